// What the bytebeat engine needs of the runtime when it is fuzzed on its
// own: the engine installs its callback through the runtime, which the fuzz
// targets leave out (it would bring SDL with it). The targets read the
// installed callback from kel_settings as the mixer does.
#include "framework/core/kel.h"

void kel_set_skreel_callback(KEL_SKREEL_CALLBACK callback) { kel_settings.callback_skreel.store(callback); }
