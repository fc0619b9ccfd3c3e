#include "IniFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
const std::string kBom = "\xEF\xBB\xBF";

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}
} // namespace

TEST(IniFile, ReadsLfOrCrLfWithOrWithoutBom) {
    for (std::string text :
         {std::string("A = 1\n[G]\nb = two words\n"), kBom + "A = 1\r\n[G]\r\nb = two words\r\n",
          std::string("A=1\r\n[ G ]\nb=  two words  ")}) {
        IniFile ini;
        ini.Parse(text);
        EXPECT_EQ(ini.Get("", "a"), "1");
        EXPECT_EQ(ini.Get("g", "B"), "two words");
        EXPECT_EQ(ini.Get("G", "missing", "dflt"), "dflt");
        EXPECT_FALSE(ini.Has("", "b")); // b belongs to G only
    }
}

TEST(IniFile, WritesBomCrLfAndKeepsWhatItDoesNotKnow) {
    IniFile ini;
    ini.Parse("; a comment\nname = x\n[keyboard]\nleft = 44\nstrange line\nfuture = 9\n[Other]\n"
              "k = v\n");
    ini.Set("", "Name", "y");           // replaced in place, keeps its spelling of the key
    ini.Set("Keyboard", "Right", "46"); // new: appended to its group
    ini.Set("New", "x", "1");           // new group at the end
    ini.AddComment("New", "note");
    EXPECT_EQ(ini.Serialize(), kBom +
                                   "; a comment\r\nname = y\r\n[keyboard]\r\nleft = 44\r\nstrange "
                                   "line\r\nfuture = 9\r\nRight = 46\r\n[Other]\r\nk = v\r\n[New]"
                                   "\r\nx = 1\r\n; note\r\n");
}

TEST(IniFile, SaveAndLoadRoundTrip) {
    const std::string path = "IniFile_roundtrip.ini";
    IniFile ini;
    ini.Set("", "PlayerName", "Zoë");
    ini.Set("Joystick", "Left", "-x");
    ASSERT_TRUE(ini.Save(path));
    std::string bytes = readAll(path);
    EXPECT_EQ(bytes.substr(0, 3), kBom);
    IniFile back;
    ASSERT_TRUE(back.Load(path));
    EXPECT_EQ(back.Get("", "playername"), "Zoë");
    EXPECT_EQ(back.Get("JOYSTICK", "left"), "-x");
    EXPECT_EQ(back.Serialize(), bytes);
    std::remove(path.c_str());
    IniFile missing;
    EXPECT_FALSE(missing.Load("no/such/file.ini"));
    EXPECT_FALSE(missing.Has("", "PlayerName"));
    EXPECT_FALSE(ini.Save("no/such/folder/file.ini"));
}

TEST(IniFile, SaveKilledAtAnyMomentLeavesTheOldOrTheNewFileWhole) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(ZELVIK_TEST_BIN) / "ini_killed";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string path = (dir / "zelvik.ini").string();
    // Two settings files large enough that a write takes a while, of different lengths.
    IniFile a, b;
    for (int i = 0; i < 3000; ++i) {
        a.Set("Keyboard", "Key" + std::to_string(i), std::to_string(i));
        b.Set("Joystick", "Button" + std::to_string(i), "value " + std::to_string(i * 7));
    }
    const std::string textA = a.Serialize(), textB = b.Serialize();
    // The kills land anywhere within about two saves, however fast this disk is.
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(a.Save(path));
    const auto perSave = std::chrono::duration_cast<std::chrono::microseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count() /
                         4;
    uint32_t span = uint32_t(std::max<int64_t>(2 * perSave, 2000));
    std::mt19937 random(20);
    int kills = 0, sawA = 0, sawB = 0;
    for (int round = 0; round < 200; ++round) {
        // The kill's moment counts from when the child starts saving, not from the fork, so
        // a slow fork on a busy machine does not leave every kill before the first save ends.
        int started[2];
        ASSERT_EQ(pipe(started), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(started[0]);
            const char go = 1;
            if (write(started[1], &go, 1) != 1) _exit(1);
            for (int n = 0;; ++n) (n % 2 ? a : b).Save(path);
        }
        close(started[1]);
        char go = 0;
        ASSERT_EQ(read(started[0], &go, 1), 1);
        close(started[0]);
        usleep(useconds_t(random() % span));
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        kills += WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
        const std::string now = readAll(path);
        ASSERT_TRUE(now == textA || now == textB)
            << "round " << round << ": " << now.size() << " bytes, neither file whole";
        sawA += now == textA;
        sawB += now == textB;
        // A disk busy with others' flushes makes saves slower than they were measured: widen
        // the window until saves are seen to finish.
        if (sawB == 0 && round % 20 == 19 && span < 2'000'000) span *= 2;
    }
    EXPECT_EQ(kills, 200);
    EXPECT_GT(sawB, 0) << "no save finished: the kills prove nothing";
    // The temporary files of the killed saves go with the next save.
    ASSERT_TRUE(b.Save(path));
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(dir)) left.push_back(e.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"zelvik.ini"});
}

// Settings that are not an ordinary file are not read (and reading never waits on a pipe); a
// settings file its user may not write is kept as it is, owner and bytes. Tests run as root in
// CI: there the file with no write bit is kept all the same, and another user is tried too.
TEST(IniFile, OddOrReadOnlySettingsFilesAreLeftAlone) {
    namespace fs = std::filesystem;
    // Under the system's temporary folder, which another user can reach.
    const fs::path dir = fs::temp_directory_path() / ("zelvik_ini_odd_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    struct Cleanup {
        fs::path dir;
        ~Cleanup() { fs::remove_all(dir); }
    } cleanup{dir};
    const auto at = [&](const char* name) { return (dir / name).string(); };
    IniFile ini;
    std::string problem = "unset";
    EXPECT_FALSE(ini.Load(at("missing.ini"), &problem));
    EXPECT_EQ(problem, ""); // a missing file only leaves the defaults
    ASSERT_EQ(mkfifo(at("fifo.ini").c_str(), 0644), 0);
    fs::create_symlink("/dev/zero", at("zero.ini"));
    for (const char* odd : {"fifo.ini", "zero.ini"}) {
        EXPECT_FALSE(ini.Load(at(odd), &problem)) << odd;
        EXPECT_EQ(problem, "not a regular file") << odd;
    }
    std::ofstream(at("huge.ini"), std::ios::binary) << std::string(IniFile::kMaxBytes + 1, ';');
    EXPECT_FALSE(ini.Load(at("huge.ini"), &problem));
    EXPECT_EQ(problem, "larger than 1 MB");

    const std::string kept = kBom + "PlayerName = Keeper\r\n";
    ini.Set("", "PlayerName", "Other");
    std::ofstream(at("readonly.ini"), std::ios::binary) << kept;
    fs::permissions(at("readonly.ini"), fs::perms(0444));
    std::string reason;
    EXPECT_FALSE(ini.Save(at("readonly.ini"), &reason));
    EXPECT_EQ(reason, "Permission denied");
    EXPECT_EQ(readAll(at("readonly.ini")), kept);
    EXPECT_EQ(fs::status(at("readonly.ini")).permissions(), fs::perms(0444));
    EXPECT_FALSE(ini.Save(at("fifo.ini"), &reason));
    EXPECT_EQ(reason, "not a regular file");
    EXPECT_TRUE(fs::is_fifo(at("fifo.ini")));

    // Root's file, 0644, in a folder anyone may write: another user may not replace it.
    if (geteuid() != 0) return;
    fs::permissions(dir, fs::perms(0777));
    std::ofstream(at("roots.ini"), std::ios::binary) << kept;
    fs::permissions(at("roots.ini"), fs::perms(0644));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        alarm(30);
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
        std::string why;
        _exit(!ini.Save(at("roots.ini"), &why) && why == "Permission denied" ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(readAll(at("roots.ini")), kept);
    struct stat st {};
    ASSERT_EQ(stat(at("roots.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
}
