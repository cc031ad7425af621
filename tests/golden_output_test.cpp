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

#include <cctype>
#include <filesystem>
#include <set>
#include <string>

#include "tests/file_helpers.h"

namespace kelpie {
namespace {

namespace fs = std::filesystem;

// The benchmark script: python3 shared/bench/gen_script.py 2000 OUT.ass.
constexpr char kBenchScript[] = "bench-2000.ass";

struct Golden {
  const char* script;  // file name; kBenchScript is generated, the rest are in the corpus
  const char* sha256;  // of the ".sup" the program writes beside it
};

// One line per script.
constexpr Golden kGolden[] = {
    {kBenchScript, "5cb97eedbd9513478cd9b45d8a30ffbc6db8d1e2c7cc4f2c3e3908273ea74dd4"},
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

std::string Sha256Hex(const std::string& bytes) {
  unsigned char digest[32];
  EVP_Digest(bytes.data(), bytes.size(), digest, nullptr, EVP_sha256(), nullptr);
  const char* digits = "0123456789abcdef";
  std::string hex;
  for (unsigned char byte : digest) hex += {digits[byte >> 4], digits[byte & 15]};
  return hex;
}

// The parameter is the line of kGolden.
class GoldenOutputTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(GoldenOutputTest, SupBytesAsRecorded) {
  if (!fs::is_directory(kShared)) {
    GTEST_SKIP() << "no shared folder at " << kShared << "; golden outputs not checked";
  }
  const Golden& golden = kGolden[GetParam()];
  // Each script in a folder of its own, removed when it passes, kept when not.
  const fs::path dir = fs::path(KELPIE_BINARY_DIR) / "golden" / golden.script;
  fs::create_directories(dir);
  const fs::path script = dir / golden.script;
  if (std::string(golden.script) == kBenchScript) {
    const auto made = testing::RunProgram(
        "/usr/bin/python3", {kShared + std::string("/bench/gen_script.py"), "2000", script}, dir);
    ASSERT_EQ(made.status, 0) << made.err;
  } else {
    testing::WriteFile(script, testing::ReadFile(fs::path(kShared) / "corpus" / golden.script));
  }
  const auto run = testing::RunProgram(KELPIE_BINARY_DIR "/driver/kelpie", {script}, dir);
  ASSERT_EQ(run.status, 0) << "kelpie " << golden.script << "; its last output:\n"
                           << run.err.substr(run.err.size() > 2000 ? run.err.size() - 2000 : 0);
  const fs::path sup = fs::path(script).replace_extension(".sup");
  ASSERT_TRUE(fs::is_regular_file(sup));
  EXPECT_EQ(Sha256Hex(testing::ReadFile(sup)), golden.sha256)
      << golden.script << ": the .sup differs from the recorded one. If the change is "
      << "intended, put the new digest (left) on its line in kGolden.";
  if (!HasFailure()) fs::remove_all(dir);
}

// Tests named after their script.
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
