// Music: one streamed music file at a time, played on SDL_mixer's music
// channel beside the runtime's own audio stream (which must be open:
// kel_init_audio_stream). A thin, logged layer over the platform's music
// functions (wrapper_music.h).
//
// Threads: main thread only; never from the mixing hook.
#pragma once

// Logs "Load music '<filename>'" (or "Load music 'OFF'" for null), then
// plays the file `loops` times (any negative count: until stopped),
// replacing the music that played before. A file that cannot be loaded
// logs SDL_mixer's error and leaves the music channel silent. Returns 1
// for a file (loaded or not), 0 for null, which stops the music.
int music_load_ex(const char* filename, int loops);
// music_load_ex(filename, -1): repeats until stopped.
int music_load(const char* filename);
// The music's volume, 0.0 (silent) to 1.0 (full; SDL_mixer's 128).
void music_volume(float volume);
// Non-zero pauses the music, zero resumes it.
void music_pause(int set);
