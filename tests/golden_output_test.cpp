// Golden outputs: the built program converts copies of the generated
// benchmark script and of every script of the shared corpus, and each ".sup"
// must have exactly the SHA-256 recorded below. Speed work must never change
// a byte; a change in behaviour that is meant to change a stream updates the
// line of that script (the failure message prints the new digest).
//
// The digests hold for this machine's fonts (fontconfig picks the face and
// the fallbacks), as the rest of the program's output does.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/instruction_set.h"
#include "tests/file_helpers.h"

namespace kelpie {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

// The benchmark script: python3 shared/bench/gen_script.py 2000 OUT.ass.
constexpr char kBenchScript[] = "bench-2000.ass";
constexpr char kLayeredScript[] = "bench-layered-2000.ass";

struct Golden {
  const char* script;  // file name; the bench- ones are generated, the rest are in the corpus
  const char* sha256;  // of the ".sup" the program writes beside it
};

// One line per script.
constexpr Golden kGolden[] = {
    {kBenchScript, "5cb97eedbd9513478cd9b45d8a30ffbc6db8d1e2c7cc4f2c3e3908273ea74dd4"},
    {kLayeredScript, "ff558ffdeb5283bba81390b9c9fcd8769fb3eeb479894c459eb3cdc924f6dfa6"},
    {"attached-fonts-playres-zero.ass",
     "dec79a02c22e3c18094cb8a5e8afb1abe7e80233263e37735dabd6895aa7e6c8"},
    {"attached-images.ass", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"episode-ssa4-latin1.ass", "1f40d27e47eb285e48f422bc1fa5a1ec81c8585267145de2a8ebadf497aedf50"},
    {"film-english-no-playres.ass",
     "801d14665712f03f71f7e98cd2940d495684e37baad5918b33503d322b52900c"},
    {"film-portuguese-embedded-font.ass",
     "54f9b9e6ee8c73d76c95489ea4df8b5dc2085f9bf763492f8614668b9a5bc51b"},
    {"song-drawings-zero-duration.ass",
     "afd73502f7c6c7ac72177957812e38f2ccf3b1b0a3d75cdb195b25aed0c4c732"},
    {"song-japanese-utf16le.ass",
     "834be9e3dbb0f83e1a42bc11245e5d0502fc626d7d445de5eda62d1738df0538"},
    {"song-karaoke-romaji.ass", "f2e2af52062d769ebeae0a186197ce90aaf20c33ffe9de8990f114752c6e53b7"},
    {"tag-showcase.ass", "45eed2bc57040862864946d3bae7786e0023b0c42199923c84d72382efd5332c"},
};

const char kShared[] = KELPIE_SOURCE_DIR "/../shared";

// Converts the script of row `row` in a folder of its own with the
// environment variables `env` ("NAME=value") and returns the .sup's digest,
// or why there is none.
std::string Convert(std::size_t row, std::vector<std::string> env = {}) {
  const std::string name = kGolden[row].script;
  // A folder of this process's own: the tests of one script may run at once.
  const fs::path dir = fs::path(KELPIE_BINARY_DIR) / "golden" / (std::to_string(getpid()) + name);
  const fs::path script = dir / name;
  fs::create_directories(dir);
  // The generator's arguments: count, file, then seed and kind for the layered one.
  std::vector<std::string> generate = {kShared + "/bench/gen_script.py"s, "2000", script, "7",
                                       "layered"};
  generate.resize(name == kLayeredScript ? 5 : 3);
  if (name.starts_with("bench-"))
    testing::RunProgram("/usr/bin/python3", generate, dir);
  else
    testing::WriteFile(script, testing::ReadFile(fs::path(kShared) / "corpus" / name));
  env.insert(env.end(), {KELPIE_BINARY_DIR "/driver/kelpie", script});
  const auto run = testing::RunProgram("/usr/bin/env", env, dir);
  if (run.status != 0) {
    return "exit status " + std::to_string(run.status) + "; the last output:\n" +
           run.err.substr(run.err.size() - std::min<std::size_t>(run.err.size(), 2000));
  }
  const std::string sup = testing::ReadFile(fs::path(script).replace_extension(".sup"));
  unsigned char bytes[32];
  EVP_Digest(sup.data(), sup.size(), bytes, nullptr, EVP_sha256(), nullptr);
  std::string digest;
  for (unsigned char b : bytes) digest += {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 15]};
  fs::remove_all(dir);
  return digest;
}

class GoldenOutputTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(GoldenOutputTest, SupBytesAsRecorded) {
  if (!fs::is_directory(kShared)) GTEST_SKIP() << "no shared folder at " << kShared;
  EXPECT_EQ(Convert(GetParam()), kGolden[GetParam()].sha256)
      << kGolden[GetParam()].script << ": the .sup differs from the recorded one. If the change "
      << "is intended, put the new digest (left) on its line in kGolden.";
}

// Every instruction-set path the processor has, one thread or several: the
// same bytes (the generated scripts and one of many positioned lines).
TEST(GoldenPathsTest, EveryInstructionSetAndThreadCountGivesTheSameBytes) {
  if (!fs::is_directory(kShared)) GTEST_SKIP() << "no shared folder at " << kShared;
  std::vector<std::vector<std::string>> variants = {{"KELPIE_THREADS=3"}};
  for (InstructionSet set : {InstructionSet::kSse2, InstructionSet::kAvx2, InstructionSet::kAvx512})
    if (InstructionSetSupported(set))
      variants.push_back({"KELPIE_ISA="s + InstructionSetName(set), "KELPIE_THREADS=1"});
  for (std::size_t row = 0; row < std::size(kGolden); ++row) {
    const std::string name = kGolden[row].script;
    if (name != kBenchScript && name != kLayeredScript && name != "tag-showcase.ass") continue;
    for (const auto& env : variants)
      EXPECT_EQ(Convert(row, env), kGolden[row].sha256) << name << " with " << env[0];
  }
}

std::string TestName(const ::testing::TestParamInfo<std::size_t>& info) {
  std::string name = fs::path(kGolden[info.param].script).stem().string();
  for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Scripts, GoldenOutputTest,
                         ::testing::Range<std::size_t>(0, std::size(kGolden)), TestName);

// A script added to the corpus needs its line in kGolden, once.
TEST(GoldenTableTest, EveryCorpusScriptIsRecorded) {
  const fs::path corpus = fs::path(kShared) / "corpus";
  if (!fs::is_directory(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
  std::set<std::string> recorded;
  for (const Golden& g : kGolden) EXPECT_TRUE(recorded.insert(g.script).second) << g.script;
  for (const auto& entry : fs::directory_iterator(corpus))
    EXPECT_TRUE(entry.path().extension() != ".ass" || recorded.count(entry.path().filename()) == 1)
        << entry.path().filename() << " has no recorded digest";
}

}  // namespace
}  // namespace kelpie
