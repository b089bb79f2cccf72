/* listen for: a square-wave melody of eight notes read from a string, one
   character a note, the way many tunes of 2011 wrote their melodies, played
   faster than most: the tune names its own rate of t. */
// rate: 11025
t*("36364689"[t>>13&7]&15)/12&128
