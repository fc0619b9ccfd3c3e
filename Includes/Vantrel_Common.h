// Small routines several modules compile in: unique ids, engine text output, version text,
// positive remainder and the whole-number test.
#pragma once

#include <cstdint>
#include <string>

struct Player;

uint32_t Common_NextUniqueID();
// Both go through the player's game's ClientInterface (slot 2 / slot 3); dropped without one.
int32_t Common_OutputMessage(Player* player, const char16_t* text);
int32_t Common_OutputChat(Player* player, const char16_t* text);
std::u16string VersionToString(uint64_t version);
int32_t PositiveMod(int32_t a, int32_t b);
int32_t IsWholeNumber(float x);
// The game port every program uses: ZELVIK_GAME_PORT when it is plain digits from 1 to 65535
// (several servers on one host), else 2031.
int32_t Common_GamePort();
