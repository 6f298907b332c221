// tachora-cli repair, run as a program: what it recovered on standard
// output, exit 0 only with a playable file, 1 for a refused repair, 2 for
// bad usage.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "CliRun.h"
#include "TestMedia.h"
#include "container/UnitMOV.h"

using namespace tachora;
using namespace tachora::test;
namespace fs = std::filesystem;

namespace {

// The recording without its movie atom, its media-data size zeroed.
void Break(const std::string &from, const std::string &to) {
  TMOVReader r(from, true);
  std::ifstream in(from, std::ios::binary);
  std::string data((std::istreambuf_iterator<char>(in)), {});
  const size_t mdat = data.find("mdat") - 4;
  data.resize(size_t(r.MovieAtomOffset()));
  data.replace(mdat, 4, std::string(4, '\0'));
  std::ofstream(to, std::ios::binary).write(data.data(), std::streamsize(data.size()));
}

}  // namespace

TEST(CliRepair, RepairsWithAChosenOrNamedReferenceAndRefusesBadInput) {
  TMediaRecipe s;
  s.seconds = 4;
  const std::string original = GenerateMovie("cli-repair", s);
  s.seconds = 2;
  const std::string reference = GenerateMovie("cli-repair-ref", s);
  const std::string dir = MakeTempDir("cli-repair");
  const std::string broken = dir + "/FILE0002.MOV";
  Break(original, broken);
  fs::copy_file(reference, dir + "/FILE0001.MOV");

  // The reference from the folder.
  TRun r = Cli("repair -o " + ShellQuote(dir + "/a.MOV") + " " + ShellQuote(broken));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("picture: 4.00 s, 100 frames (4 key)\nsound: 4.00 s\n"), std::string::npos)
      << r.out;
  EXPECT_NE(r.err.find("FILE0001.MOV"), std::string::npos) << r.err;
  EXPECT_TRUE(DecodesCleanly(dir + "/a.MOV"));

  // A named reference; a healthy file as reference for itself is refused.
  r = Cli("repair --reference " + ShellQuote(reference) + " -o " + ShellQuote(dir + "/b.MOV") +
          " " + ShellQuote(broken));
  EXPECT_EQ(r.status, 0) << r.err;
  r = Cli("repair --reference " + ShellQuote(broken) + " -o " + ShellQuote(dir + "/c.MOV") + " " +
          ShellQuote(broken));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("reference"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir + "/c.MOV"));
  r = Cli("repair -o " + ShellQuote(dir + "/d.MOV") + " " + ShellQuote(original));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("not damaged"), std::string::npos) << r.err;

  EXPECT_EQ(Cli("repair " + ShellQuote(broken)).status, 2);  // no -o
  EXPECT_EQ(Cli("repair --bogus -o x " + ShellQuote(broken)).status, 2);
  EXPECT_EQ(Cli("repair -o " + ShellQuote(broken) + " " + ShellQuote(broken)).status, 2);
  r = Cli("repair --help");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("--reference FILE"), std::string::npos);
}
