// Image files into plain RGBA bytes, through SDL_image: the platform's
// loader for the atlases (wrapper_init installs it with atlas_set_loader).
//
// Only PNG, BMP, TGA, JPEG and GIF files are read, told apart by their
// first bytes (never by the file name), and each goes to its own decoder
// only: a file of any other kind is refused before any decoder of SDL_image
// sees it, since the decoders of rarely used formats have a history of
// memory faults. TGA files, which have no signature, are recognised by a
// header that makes sense (colour-map type, image type and pixel depth that
// TGA defines).
//
// Threads: main thread only; never from the mixing hook.
#pragma once

// Loads `filename` (used as given) into w x h x 4 bytes, red, green, blue,
// alpha, top row first, and reports the size through `w` and `h`. Pixels of
// the surface's colour key become 0, 0, 0, 0. The caller frees the bytes with
// free(). Logs "image '<file>' <w>x<h> (<bytes> bytes)".
//
// The file is read whole (at most 512 MiB) and decoded from memory, so the
// bytes that were checked are the bytes decoded. The image's size is taken
// from its header before decoding: a header too short or too damaged to
// tell it is refused as damaged, and so is a GIF whose extension blocks run
// past the end of the file or whose image data has a code size outside 2..8
// bits (SDL_image's decoder would never return from either). A side of 0 or
// above 8192 pixels is refused: SDL 1.2 keeps a surface's row length in 16
// bits, and such an image cannot go into an atlas anyway. The decoded
// surface is converted to 32-bit RGBA in memory, not to the display's
// format, so images load with or without a window.
//
// Returns null after logging one of:
//   "image '<file>' load failed"  (missing, unreadable, damaged, or the decoder gave up)
//   "image '<file>' refused: not a PNG, BMP, TGA, JPEG or GIF file"
//   "image '<file>' refused: <w>x<h> pixels (sides of 1 to 8192 are taken)"
//   "image '<file>' refused: larger than 512 MiB"
//   "image '<file>' SDL surface error"  (the conversion failed)
unsigned char* wrapper_load_rgba(const char* filename, int* w, int* h);
