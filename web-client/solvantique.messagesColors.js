// Colours the scripts need themselves (the styles keep the rest). Avatar
// backgrounds are dark enough for white initials in both schemes.
export const avatarColors = [
  '#b4451f', '#a2390a', '#8a5a00', '#4d7a12', '#1f7a4d', '#0b7285', '#1864ab',
  '#3b5bdb', '#5f3dc4', '#862e9c', '#a61e4d', '#6c4f3d', '#495057', '#237032',
];

// The unread badge drawn onto the tab's icon.
export const badge = { background: '#d6336c', text: '#ffffff' };
