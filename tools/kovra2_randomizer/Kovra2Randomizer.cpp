// kovra2_randomizer: finds the seed that deals a given piece sequence with the KOVRA2 history
// randomizer, then prints the pieces that follow, ten per line, one line per Enter.
#include "Kovra2Randomizer.h"
#include "SeedSearch.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

Kovra2History Randomizer{}; // the generator state and the history, process-wide

void Randomizer_NextPiece() {
    Kovra2_NextPiece(Randomizer);
}
void Randomizer_Init(uint32_t seed) {
    Kovra2_Init(Randomizer, seed);
}

// Ends the program with exit code 2 for anything but a piece letter.
uint8_t Piece_FromLetter(char c) {
    switch (c) {
    case 'I':
    case 'i':
        return Kovra2_I;
    case 'Z':
    case 'z':
        return Kovra2_Z;
    case 'S':
    case 's':
        return Kovra2_S;
    case 'J':
    case 'j':
        return Kovra2_J;
    case 'L':
    case 'l':
        return Kovra2_L;
    case 'O':
    case 'o':
        return Kovra2_O;
    case 'T':
    case 't':
        return Kovra2_T;
    default:
        std::exit(2);
    }
}

char Piece_ToLetter(uint8_t piece) {
    return "IZSJLOT"[piece % 7];
}

int SeedSearch_Main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("I need a search sequence as a parameter.\n", stderr);
        return 1;
    }
    std::vector<uint8_t> sequence;
    for (const char* c = argv[1]; *c; ++c) sequence.push_back(Piece_FromLetter(*c));
    const uint32_t count = static_cast<uint32_t>(sequence.size());

    // A sequence that cannot match would sweep every seed and end on 0 anyway.
    const uint32_t seed = SeedSearch_CannotMatch(sequence.data(), count)
                              ? 0
                              : SeedSearch_FindSeed(sequence.data(), count, 0);
    std::fprintf(stderr, "Using seed %d\n", static_cast<int32_t>(seed));

    Randomizer_Init(seed);
    char line[10];
    for (;;) {
        for (int i = 0; i < 10; ++i) {
            std::printf("%c", Piece_ToLetter(Randomizer.History[0]));
            Randomizer_NextPiece();
        }
        std::printf("\n");
        // The reader must see the line before we wait for Enter; nobody can read any more
        // once the output is gone.
        if (std::fflush(stdout) != 0) return 0;
        if (!std::fgets(line, sizeof line, stdin)) std::clearerr(stdin);
    }
}

} // namespace

int main(int argc, char** argv) {
    return SeedSearch_Main(argc, argv);
}
