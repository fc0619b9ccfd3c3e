// Sound effects on overlapping mixer channels (channel 0 kept for the one looping effect)
// and streamed music that loops. Volumes are percent of the mixer's full volume.
#pragma once

#include <cstdint>
#include <string>

struct Platform_SoundClip;
struct Platform_Music;

// Opens the audio device and the decoders; false when there is no usable device.
bool Platform_Sound_Init();
void Platform_Sound_Quit();
bool Platform_Sound_Available();

Platform_SoundClip* Platform_Sound_LoadClip(const std::string& path); // null on failure
void Platform_Sound_FreeClip(Platform_SoundClip* clip);
// Plays on a free channel (a clip may overlap itself); returns the channel or -1.
int32_t Platform_Sound_Play(Platform_SoundClip* clip, int32_t volumePercent);
// Plays looping on the reserved channel 0, replacing what played there.
bool Platform_Sound_PlayLooping(Platform_SoundClip* clip, int32_t volumePercent);
void Platform_Sound_StopLooping();
bool Platform_Sound_LoopingPlaying();
int32_t Platform_Sound_ChannelsPlaying(); // effects channels busy, the looping one included

Platform_Music* Platform_Sound_LoadMusic(const std::string& path); // null on failure
void Platform_Sound_FreeMusic(Platform_Music* music);
// Starts the stream from its beginning, looping for ever.
bool Platform_Sound_PlayMusic(Platform_Music* music, int32_t volumePercent);
void Platform_Sound_StopMusic();
bool Platform_Sound_MusicPlaying();
