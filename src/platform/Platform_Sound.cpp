#include "Platform_Sound.h"

#include "Platform_File.h"
#include "Platform_Path.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include <algorithm>
#include <cstdio>
#include <string>

struct Platform_SoundClip {
    Mix_Chunk* chunk;
};
struct Platform_Music {
    Mix_Music* music;
    std::string bytes; // the stream reads the file from here while it plays
};

namespace {

constexpr int kChannels = 32;
constexpr int kLoopChannel = 0;
bool gOpen = false;

// Effects are decoded whole into memory; music is streamed from the file's bytes.
constexpr size_t kClipMaxBytes = size_t{32} << 20;
constexpr size_t kMusicMaxBytes = size_t{64} << 20;

// The file's bytes, read without blocking on a pipe and within cap; a file that is there but
// cannot be used is named on stderr with the reason (a missing one just leaves its slot empty).
bool ReadSoundFile(const std::string& path, size_t cap, std::string& bytes) {
    std::string why;
    if (Platform_File_Read(path, cap, bytes, &why)) return true;
    if (Platform_Path_Exists(path))
        std::fprintf(stderr, "Could not load %s: %s\n", path.c_str(), why.c_str());
    return false;
}

int ToMixerVolume(int32_t percent) {
    return std::clamp(percent, 0, 100) * MIX_MAX_VOLUME / 100;
}

} // namespace

bool Platform_Sound_Init() {
    if (gOpen) return true;
    if (!SDL_WasInit(SDL_INIT_AUDIO) && SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        std::fprintf(stderr, "Cannot start audio: %s\n", SDL_GetError());
        return false;
    }
    Mix_Init(MIX_INIT_OGG);
    if (Mix_OpenAudio(44100, AUDIO_S16SYS, 2, 1024) != 0) {
        std::fprintf(stderr, "Cannot open the audio device: %s\n", Mix_GetError());
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    Mix_AllocateChannels(kChannels);
    Mix_ReserveChannels(1); // channel 0 only plays what is asked for it by number
    gOpen = true;
    return true;
}

void Platform_Sound_Quit() {
    if (!gOpen) return;
    Mix_HaltChannel(-1);
    Mix_HaltMusic();
    Mix_CloseAudio();
    Mix_Quit();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    gOpen = false;
}

bool Platform_Sound_Available() {
    return gOpen;
}

Platform_SoundClip* Platform_Sound_LoadClip(const std::string& path) {
    if (!gOpen) return nullptr;
    std::string bytes;
    if (!ReadSoundFile(path, kClipMaxBytes, bytes)) return nullptr;
    Mix_Chunk* chunk =
        Mix_LoadWAV_RW(SDL_RWFromConstMem(bytes.data(), static_cast<int>(bytes.size())), 1);
    if (!chunk) {
        std::fprintf(stderr, "Could not load %s: %s\n", path.c_str(), Mix_GetError());
        return nullptr;
    }
    return new Platform_SoundClip{chunk};
}

void Platform_Sound_FreeClip(Platform_SoundClip* clip) {
    if (!clip) return;
    if (gOpen) {
        for (int c = 0; c < kChannels; ++c)
            if (Mix_GetChunk(c) == clip->chunk && Mix_Playing(c)) Mix_HaltChannel(c);
        Mix_FreeChunk(clip->chunk);
    }
    delete clip;
}

int32_t Platform_Sound_Play(Platform_SoundClip* clip, int32_t volumePercent) {
    if (!gOpen || !clip) return -1;
    const int channel = Mix_PlayChannel(-1, clip->chunk, 0);
    if (channel >= 0) Mix_Volume(channel, ToMixerVolume(volumePercent));
    return channel;
}

bool Platform_Sound_PlayLooping(Platform_SoundClip* clip, int32_t volumePercent) {
    if (!gOpen || !clip) return false;
    Mix_HaltChannel(kLoopChannel);
    Mix_Volume(kLoopChannel, ToMixerVolume(volumePercent));
    return Mix_PlayChannel(kLoopChannel, clip->chunk, -1) == kLoopChannel;
}

void Platform_Sound_StopLooping() {
    if (gOpen) Mix_HaltChannel(kLoopChannel);
}

bool Platform_Sound_LoopingPlaying() {
    return gOpen && Mix_Playing(kLoopChannel) != 0;
}

int32_t Platform_Sound_ChannelsPlaying() {
    return gOpen ? Mix_Playing(-1) : 0;
}

Platform_Music* Platform_Sound_LoadMusic(const std::string& path) {
    if (!gOpen) return nullptr;
    auto* loaded = new Platform_Music{nullptr, {}};
    if (!ReadSoundFile(path, kMusicMaxBytes, loaded->bytes)) {
        delete loaded;
        return nullptr;
    }
    loaded->music = Mix_LoadMUS_RW(
        SDL_RWFromConstMem(loaded->bytes.data(), static_cast<int>(loaded->bytes.size())), 1);
    if (!loaded->music) {
        std::fprintf(stderr, "Could not load %s: %s\n", path.c_str(), Mix_GetError());
        delete loaded;
        return nullptr;
    }
    return loaded;
}

void Platform_Sound_FreeMusic(Platform_Music* music) {
    if (!music) return;
    if (gOpen) Mix_FreeMusic(music->music); // halts it first when it is playing
    delete music;
}

bool Platform_Sound_PlayMusic(Platform_Music* music, int32_t volumePercent) {
    if (!gOpen || !music) return false;
    Mix_HaltMusic();
    Mix_VolumeMusic(ToMixerVolume(volumePercent));
    return Mix_PlayMusic(music->music, -1) == 0;
}

void Platform_Sound_StopMusic() {
    if (gOpen) Mix_HaltMusic();
}

bool Platform_Sound_MusicPlaying() {
    return gOpen && Mix_PlayingMusic() != 0;
}
