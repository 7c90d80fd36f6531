// An HTTP and an HTTPS server on loopback ports for the tests of the HTTP
// client and of attachments: Python's http.server in a child process, with a
// self-signed certificate that OpenSSL makes for the run. Paths:
//   /body/SIZE[/NAME]?chunk=N&delay=MS  SIZE bytes of Body(), N bytes every MS ms
//   /redirect/N/REST                    N redirects, then /REST
//   /auth/SIZE                          Body(SIZE) for Basic "user":"secret" only
//   /broken/SIZE                        announces SIZE bytes, sends half, closes
//   /missing                            404
//   POST /echo                          its content type, a line feed, then its body
#pragma once

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "tests/support/child_process.h"

namespace http_test {

inline const char* const SERVER_SCRIPT = R"PY(
import base64, http.server, socketserver, ssl, sys, threading, time, urllib.parse

PATTERN = bytes(i % 251 for i in range(251))

def body(offset, length):
    start = offset % 251
    reps = (start + length) // 251 + 1
    return (PATTERN * reps)[start:start + length]

class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def answer(self, status, data=b"", headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query)
        parts = url.path.strip("/").split("/")
        if parts[0] == "body":
            size = int(parts[1])
            chunk = int(query.get("chunk", ["65536"])[0])
            delay = int(query.get("delay", ["0"])[0]) / 1000.0
            self.send_response(200)
            self.send_header("Content-Length", str(size))
            self.end_headers()
            sent = 0
            while sent < size:
                n = min(chunk, size - sent)
                self.wfile.write(body(sent, n))
                self.wfile.flush()
                sent += n
                if delay and sent < size:
                    time.sleep(delay)
        elif parts[0] == "redirect":
            left = int(parts[1])
            rest = "/".join(parts[2:])
            target = "/redirect/%d/%s" % (left - 1, rest) if left > 1 else "/" + rest
            self.answer(302, b"moved", [("Location", target)])
        elif parts[0] == "auth":
            expected = "Basic " + base64.b64encode(b"user:secret").decode()
            if self.headers.get("Authorization") != expected:
                self.answer(401, b"who are you", [("WWW-Authenticate", 'Basic realm="test"')])
            else:
                self.answer(200, body(0, int(parts[1])))
        elif parts[0] == "broken":
            size = int(parts[1])
            self.send_response(200)
            self.send_header("Content-Length", str(size))
            self.end_headers()
            self.wfile.write(body(0, size // 2))
            self.wfile.flush()
            self.close_connection = True
            self.connection.shutdown(2)
        else:
            self.answer(404, b"not here")

    def do_POST(self):
        data = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        self.answer(200, self.headers.get("Content-Type", "").encode() + b"\n" + data)

class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True

plain = Server(("127.0.0.1", 0), Handler)
secure = Server(("127.0.0.1", 0), Handler)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(sys.argv[1], sys.argv[2])
secure.socket = context.wrap_socket(secure.socket, server_side=True)
for server in (plain, secure):
    threading.Thread(target=server.serve_forever, daemon=True).start()
print("ports %d %d" % (plain.server_address[1], secure.server_address[1]), flush=True)
sys.stdin.read()
)PY";

// What /body/SIZE sends: byte i is i % 251.
inline std::string Body(size_t size)
{
    std::string s(size, '\0');
    for (size_t i = 0; i < size; i++) s[i] = char(i % 251);
    return s;
}

// A port nobody listens on: bound once, then closed.
inline int ClosedPort()
{
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(a);
    bind(s, (sockaddr*)&a, sizeof(a));
    getsockname(s, (sockaddr*)&a, &len);
    close(s);
    return ntohs(a.sin_port);
}

class Server {
public:
    Server()
    {
        std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1"
                           " -addext subjectAltName=IP:127.0.0.1 -keyout " +
                           dir + "/key.pem -out " + CertFile() + " >/dev/null 2>&1";
        if (system(make.c_str()) != 0) return;
        int out[2], in[2];
        if (pipe2(out, O_CLOEXEC) < 0 || pipe2(in, O_CLOEXEC) < 0) return;
        std::string key = dir + "/key.pem", cert = CertFile();
        pid = fork();
        if (pid == 0) {
            dup2(out[1], 1);
            dup2(in[0], 0);
            execlp("python3", "python3", "-c", SERVER_SCRIPT, cert.c_str(), key.c_str(), (char*)nullptr);
            _exit(127);
        }
        close(out[1]);
        close(in[0]);
        // The server ends when this end of its standard input closes, even
        // if the test process dies without the destructor.
        stdinWrite = in[1];
        ReadPorts(out[0]);
        close(out[0]);
    }
    ~Server()
    {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (stdinWrite >= 0) close(stdinWrite);
    }
    bool Ready() const { return httpPort && httpsPort; }
    std::string Http(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(httpPort) + path; }
    std::string Https(const std::string& path) const
    {
        return "https://127.0.0.1:" + std::to_string(httpsPort) + path;
    }
    std::string CertFile() const { return dir + "/cert.pem"; }

    int httpPort = 0;
    int httpsPort = 0;

private:
    void ReadPorts(int fd)
    {
        std::string line;
        char c;
        pollfd p = {fd, POLLIN, 0};
        while (line.find('\n') == std::string::npos && poll(&p, 1, 20000) == 1 && read(fd, &c, 1) == 1) line += c;
        sscanf(line.c_str(), "ports %d %d", &httpPort, &httpsPort);
    }

    harness::TempDir tmp;
    std::string dir = tmp.path;
    pid_t pid = -1;
    int stdinWrite = -1;
};

}  // namespace http_test
