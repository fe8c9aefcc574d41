// What the suite knows of the game's screen: colours as the page shows them,
// the game's own 8 x 8 font (read from display/font.cpp), where the texts
// stand, and the board's occupancy read from its pixels.
'use strict';

const fs = require('node:fs');
const path = require('node:path');

const Width = 640;
const Height = 480;
const BoardLeft = 127;
const BoardTop = 47;
const SquareSize = 48;

// rgb: a 5-6-5 colour as the page paints it, each channel's bits repeated.
function rgb(colour) {
  const r = colour >> 11, g = (colour >> 5) & 63, b = colour & 31;
  return [(r << 3) | (r >> 2), (g << 2) | (g >> 4), (b << 3) | (b >> 2)];
}

const Colours = {
  black: rgb(0x0000),
  pointer: rgb(0xef7d),
  panelText: rgb(0x9cd3),
  boxBackground: rgb(0x0001),
  boxTitle: rgb(0x73ae),
  boxLine: rgb(0xdefb),
  white: rgb(0xffff),
};

// Glyphs: character code to eight rows of five '#'/'.' columns (cell columns 1 to 5).
function loadGlyphs() {
  const source = fs.readFileSync(path.join(__dirname, '..', '..', 'display', 'font.cpp'), 'utf8');
  const start = source.indexOf('GlyphArt');
  const rows = [...source.slice(start).matchAll(/\{("[.#]{5}"(?:,\s*"[.#]{5}"){7})\}/g)];
  if (rows.length < 95) throw new Error('the font table of display/font.cpp was not understood');
  const glyphs = new Map();
  for (let i = 0; i < 95; ++i)
    glyphs.set(32 + i, [...rows[i][1].matchAll(/"([.#]{5})"/g)].map((match) => match[1]));
  return glyphs;
}
const Glyphs = loadGlyphs();

// A picture: the canvas's RGBA bytes.
class Picture {
  constructor(bytes) {
    this.bytes = bytes;
  }
  at(x, y) {
    const i = (y * Width + x) * 4;
    return [this.bytes[i], this.bytes[i + 1], this.bytes[i + 2]];
  }
  is(x, y, colour) {
    const p = this.at(x, y);
    return p[0] === colour[0] && p[1] === colour[1] && p[2] === colour[2];
  }
}

// showsText: the text drawn at (x, y) in colour over background, every
// pixel of its character cells as the game's DrawText leaves them.
function showsText(picture, x, y, text, colour, background) {
  for (let k = 0; k < text.length; ++k) {
    const glyph = Glyphs.get(text.charCodeAt(k));
    for (let row = 0; row < 8; ++row)
      for (let column = 0; column < 8; ++column) {
        const lit = column >= 1 && column <= 5 && glyph[row][column - 1] === '#';
        if (!picture.is(x + 8 * k + column, y + row, lit ? colour : background)) return false;
      }
  }
  return true;
}

// The status word in the box at the bottom right.
function showsStatus(picture, word) {
  return showsText(picture, 542, 470, word, Colours.panelText, Colours.black);
}

// The message box: its title in the frame's gap and its lines ("|" between them).
function showsMessageBox(picture, title, text) {
  const lines = text.split('|');
  const top = 220 - 6 * lines.length;
  return (
    showsText(picture, 320 - 4 * title.length, top - 2, title, Colours.boxTitle, Colours.boxBackground) &&
    lines.every((line, k) =>
      showsText(picture, 320 - 4 * line.length, top + 20 + 12 * k, line, Colours.boxLine, Colours.boxBackground),
    )
  );
}

// occupancy: per square, rank 8 first, '.' empty, 'w' a grey piece (the
// computer's), 'b' a green one (the person's); the squares are dark blue.
function occupancy(picture) {
  let text = '';
  for (let rank = 8; rank >= 1; --rank)
    for (let file = 1; file <= 8; ++file) {
      let grey = 0, green = 0;
      for (let y = 0; y < SquareSize; ++y)
        for (let x = 0; x < SquareSize; ++x) {
          const [r, g, b] = picture.at(BoardLeft + SquareSize * (file - 1) + x, BoardTop + SquareSize * (8 - rank) + y);
          if (g > 40 && r < 16 && b < 16) ++green;
          if (r > 60 && Math.abs(r - g) < 24 && Math.abs(g - b) < 24) ++grey;
        }
      text += green > 100 ? 'b' : grey > 100 ? 'w' : '.';
    }
  return text;
}

function count(text, c) {
  return text.split(c).length - 1;
}

// squareCentre: the screen pixel at the middle of a square such as 'e7'.
function squareCentre(square) {
  const file = square.charCodeAt(0) - 96, rank = Number(square[1]);
  return {x: BoardLeft + SquareSize * (file - 1) + 24, y: BoardTop + SquareSize * (8 - rank) + 24};
}

// squareIndex: the square's place in an occupancy text.
function squareIndex(square) {
  return (8 - Number(square[1])) * 8 + (square.charCodeAt(0) - 97);
}

// showsPointer: the game's arrow with its tip at (x, y) over a black background.
function showsPointer(picture, x, y) {
  for (let k = 0; k <= 13; ++k) if (!picture.is(x, y + k, Colours.pointer)) return false;
  for (let k = 0; k <= 8; ++k) if (!picture.is(x + k, y + k, Colours.pointer)) return false;
  return picture.is(x - 1, y, Colours.black) && picture.is(x, y - 1, Colours.black) && picture.is(x, y + 15, Colours.black);
}

module.exports = {
  Width, Height, BoardLeft, BoardTop, SquareSize, Colours, Picture,
  showsText, showsStatus, showsMessageBox, occupancy, count, squareCentre, squareIndex, showsPointer,
};
