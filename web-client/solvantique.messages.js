// Placeholder until the web client arrives: shows that the page and its script were served.
window.addEventListener("load", function () {
    var root = document.getElementById("messages");
    if (root) root.textContent = "Messages";
});
