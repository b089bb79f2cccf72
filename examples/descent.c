/* listen for: a busy, chattering figure that falls an octave every eight
   seconds, as the shift by t >> 16 slows the whole pattern down. A formula
   credited to tejeez in the 2011 collections, played as the C programs of
   the time played it: after half a minute the product passes 2^31 and
   turns negative, and C's >> of a negative int keeps its sign; after four
   minutes the shift counts wrap round. descent.txt, the same formula on
   the machine's unsigned words, parts from it there */
(t*(t>>5|t>>8))>>(t>>16)
