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
#include <ostream>
#include <set>
#include <string>

#include "tests/file_helpers.h"

namespace kelpie {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::RunProgram;

// The benchmark script: python3 shared/bench/gen_script.py 2000 OUT.ass.
constexpr char kBenchScript[] = "bench-2000.ass";
constexpr char kBenchEvents[] = "2000";

struct Golden {
  const char* script;  // file name; kBenchScript is generated, the rest are in the corpus
  const char* sha256;  // of the ".sup" the program writes beside it
};

// One line per script.
constexpr Golden kGolden[] = {
    {kBenchScript, "5cb97eedbd9513478cd9b45d8a30ffbc6db8d1e2c7cc4f2c3e3908273ea74dd4"},
    {"attached-fonts-playres-zero.ass",
     "3496127f0fb45e928119caaf40f304cff4190d419794b3e6bcdb4afebe65ec2c"},
    {"attached-images.ass", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"episode-ssa4-latin1.ass", "9ac3aa81db6934e6764dced0370c8dab077814abc36f07152adc8113c70602e9"},
    {"film-english-no-playres.ass",
     "4c86684ff4844846ed81ad5c34f66f32808d12937a173156918f982ba0dbb4ec"},
    {"film-portuguese-embedded-font.ass",
     "bb8b3c4a1e2953b99f289301c9ea1b0353a63b6b436eb4838e216e426b839ee8"},
    {"song-drawings-zero-duration.ass",
     "8ab9229498f26bf3aed5b4546a4dfc2f1ff7fef14bfee534a5451ad2411459b3"},
    {"song-japanese-utf16le.ass",
     "a9fecbd1321dc23fbfe6e938b347e1173d6449d4ff06be12d823bb96f8619f6f"},
    {"song-karaoke-romaji.ass", "8f7e58bd1d7e2474a25f5b14b1a7dad8ab2fbb7caf0de1acf5ef0ed9350fad1b"},
    {"tag-showcase.ass", "58d35b00194b925e7177a452e04ee7049c78a073b8aa7eb0f039f054f81ea337"},
};

// gtest names a failing case by its script.
void PrintTo(const Golden& golden, std::ostream* os) {
  *os << golden.script;
}

const char kKelpie[] = KELPIE_BINARY_DIR "/driver/kelpie";

fs::path SharedDir() {
  return fs::path(KELPIE_SOURCE_DIR) / ".." / "shared";
}

std::string Sha256Hex(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr);
  std::string hex;
  for (unsigned int i = 0; i < size; ++i) {
    hex += "0123456789abcdef"[digest[i] >> 4];
    hex += "0123456789abcdef"[digest[i] & 15];
  }
  return hex;
}

class GoldenOutputTest : public ::testing::TestWithParam<Golden> {
 protected:
  void SetUp() override {
    if (!fs::is_directory(SharedDir())) {
      GTEST_SKIP() << "no shared folder at " << SharedDir() << "; golden outputs not checked";
    }
    char pattern[] = "/tmp/kelpie_golden_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  fs::path dir_;
};

TEST_P(GoldenOutputTest, SupBytesAsRecorded) {
  const Golden& golden = GetParam();
  const fs::path script = dir_ / golden.script;
  if (std::string(golden.script) == kBenchScript) {
    const fs::path generator = SharedDir() / "bench" / "gen_script.py";
    const auto made =
        RunProgram("/usr/bin/python3", {generator.string(), kBenchEvents, script.string()}, dir_);
    ASSERT_EQ(made.status, 0) << made.err;
  } else {
    const fs::path source = SharedDir() / "corpus" / golden.script;
    ASSERT_TRUE(fs::is_regular_file(source)) << source << " is missing from the corpus";
    fs::copy_file(source, script);
  }
  const auto run = RunProgram(kKelpie, {script.string()}, dir_);
  ASSERT_EQ(run.status, 0) << "kelpie " << golden.script << "; its last output:\n"
                           << run.err.substr(run.err.size() -
                                             std::min<std::size_t>(run.err.size(), 2000));
  fs::path sup = script;
  sup.replace_extension(".sup");
  ASSERT_TRUE(fs::is_regular_file(sup));
  EXPECT_EQ(Sha256Hex(ReadFile(sup)), golden.sha256)
      << golden.script << ": the .sup differs from the recorded one. If the change is "
      << "intended, put the new digest (left) on its line in kGolden.";
}

std::string TestName(const ::testing::TestParamInfo<Golden>& info) {
  std::string name = fs::path(info.param.script).stem().string();
  std::replace_if(
      name.begin(), name.end(), [](unsigned char c) { return !std::isalnum(c); }, '_');
  return name;
}

INSTANTIATE_TEST_SUITE_P(Scripts, GoldenOutputTest, ::testing::ValuesIn(kGolden), TestName);

// A script added to the corpus needs its line in kGolden.
TEST(GoldenTableTest, EveryCorpusScriptIsRecorded) {
  const fs::path corpus = SharedDir() / "corpus";
  if (!fs::is_directory(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
  std::set<std::string> recorded;
  for (const Golden& g : kGolden) EXPECT_TRUE(recorded.insert(g.script).second) << g.script;
  for (const auto& entry : fs::directory_iterator(corpus)) {
    if (entry.path().extension() != ".ass") continue;
    EXPECT_TRUE(recorded.count(entry.path().filename().string()) == 1)
        << entry.path().filename() << " has no recorded digest";
  }
}

}  // namespace
}  // namespace kelpie
