// Plays a music file through the accompaniment player to its end, as a song does, and prints the
// player's trace lines on standard error (for tests/soak/dropouts.py, which records what the sound
// server was given).
//
// usage: play_music FILE
#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>

#include "platform/accompanimentplayer.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: play_music FILE\n";
        return 2;
    }
    platform::CAccompanimentPlayer player;
    if (!player.Open(argv[1])) {
        std::cerr << player.OpenProblem() << '\n';
        return 1;
    }
    player.Play();
    if (!player.HasSound()) {
        std::cerr << "no output device\n";
        return 1;
    }
    std::printf("playing %d ms\n", player.Length());
    std::fflush(stdout);
    while (player.Position() < player.Length() + 500)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    player.Stop();
    std::printf("ended at %d ms\n", player.Position());
    return 0;
}
