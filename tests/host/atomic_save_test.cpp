// The safe save's batch: each save told once, in order, only when in place;
// a second name of an output refused; saves from several threads each whole.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>
#include <atomic>
#include <functional>
#include <optional>

#include "host/atomic_save.h"
#include "host/xls_host.h"
#include "support/error_of.h"
#include "support/temp_dir.h"

namespace skov {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

const std::string kTemplate = std::string(SKOV_TEST_DATA) + "/xls/xlwt_template.xls";

struct Told {
  std::string target;
  bool ok;
  std::optional<size_t> sameAs;
  std::string following;
  bool inPlace;  // the target held the new workbook when told
};

// One workbook per target, begun into a batch; what Finish tells, in order.
std::vector<Told> SaveAll(const TempDir& dir, const std::vector<std::string>& targets,
                          const std::function<void()>& meanwhile = {}) {
  auto host = MakeXlsHost(FromUtf8(dir.str()));
  SaveBatch batch;
  std::vector<Told> told;
  for (size_t i = 0; i < targets.size(); ++i) {
    auto wb = host->BindToFile(FromUtf8(dir / "SKOV_IMPORT.XLS"));
    wb->WriteCell(1, 11, 5, FromUtf8(targets[i]));
    const std::string path = dir / targets[i];
    batch.Add(wb->BeginSaveAs(FromUtf8(path)), FromUtf8(path), i, [&told, path](const SaveEnd& end, std::string_view after) {
      const std::string now = fs::is_regular_file(path) ? ReadFile(path) : std::string();
      told.push_back({path, !end.error, end.sameAs, std::string(after), now.size() > 8 && now.rfind("\xD0\xCF", 0) == 0});
    });
    *batch.Following() += "after " + targets[i];
  }
  if (meanwhile) meanwhile();
  batch.Finish(*host);
  EXPECT_TRUE(batch.Empty());
  return told;
}

TEST(SaveBatch, FinalOnlyOnceInPlaceAndInOrder) {
  TempDir dir;
  fs::copy_file(kTemplate, dir / "SKOV_IMPORT.XLS");
  for (const char* t : {"EINS.XLS", "ZWEI.XLS", "DREI.XLS"}) WriteFile(dir / t, "alt");
  // ZWEI's target turns into a folder before the batch is finished.
  const std::vector<Told> told = SaveAll(dir, {"EINS.XLS", "ZWEI.XLS", "DREI.XLS"}, [&] {
    fs::remove(dir / "ZWEI.XLS");
    fs::create_directory(dir / "ZWEI.XLS");
  });
  ASSERT_EQ(told.size(), 3u);
  const bool ok[] = {true, false, true};
  const char* names[] = {"EINS.XLS", "ZWEI.XLS", "DREI.XLS"};
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(names[i]);
    EXPECT_EQ(told[i].target, dir / names[i]);
    EXPECT_EQ(told[i].ok, ok[i]);
    EXPECT_EQ(told[i].inPlace, ok[i]);
    EXPECT_EQ(told[i].following, std::string("after ") + names[i]);
  }
  for (const auto& e : fs::directory_iterator(dir.path())) EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
}

// Two names of one file (here through a link to its folder; on a case-blind
// folder PLAN.XLS and Plan.xls): the later save would replace the earlier
// output of the same run, and is refused instead.
TEST(SaveBatch, SecondNameOfAnOutputIsRefused) {
  TempDir dir;
  fs::copy_file(kTemplate, dir / "SKOV_IMPORT.XLS");
  fs::create_directory(dir / "imp");
  fs::create_directory_symlink(dir / "imp", dir / "alias");
  const std::vector<Told> told = SaveAll(dir, {"imp/PLAN.XLS", "alias/PLAN.XLS", "imp/ANDERE.XLS"});
  ASSERT_EQ(told.size(), 3u);
  EXPECT_TRUE(told[0].ok);
  EXPECT_FALSE(told[1].ok);
  EXPECT_EQ(told[1].sameAs, std::optional<size_t>(0));
  EXPECT_TRUE(told[2].ok);
  // Still the first one's workbook: built from its own cell text.
  auto host = MakeXlsHost(FromUtf8(dir.str()));
  auto first = host->BindToFile(FromUtf8(dir / "SKOV_IMPORT.XLS"));
  first->WriteCell(1, 11, 5, u"imp/PLAN.XLS");
  first->SaveAs(FromUtf8(dir / "EXPECTED.XLS"));
  EXPECT_EQ(ReadFile(dir / "imp/PLAN.XLS"), ReadFile(dir / "EXPECTED.XLS"));
}

// One host saving from several threads: every output exactly what a save
// alone gives (the build buffers, the folders and the names are shared).
TEST(XlsHostThreads, SavesFromSeveralThreadsAreEachWhole) {
  TempDir dir;
  fs::copy_file(kTemplate, dir / "SKOV_IMPORT.XLS");
  constexpr int kThreads = 4, kSaves = 25;
  auto name = [](int t, int k) { return "T" + std::to_string(t) + "-" + std::to_string(k) + ".XLS"; };
  {
    auto alone = MakeXlsHost(FromUtf8(dir.str()));
    for (int t = 0; t < kThreads; ++t) {
      auto wb = alone->BindToFile(FromUtf8(dir / "SKOV_IMPORT.XLS"));
      wb->WriteCell(1, 11, 5, FromUtf8(std::string(200 + 50 * t, char('a' + t))));
      wb->SaveAs(FromUtf8(dir / ("REF" + std::to_string(t) + ".XLS")));
    }
  }
  auto host = MakeXlsHost(FromUtf8(dir.str()));
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int k = 0; k < kSaves; ++k) {
        try {
          auto wb = host->BindToFile(FromUtf8(dir / "SKOV_IMPORT.XLS"));
          wb->WriteCell(1, 11, 5, FromUtf8(std::string(200 + 50 * t, char('a' + t))));
          wb->SaveAs(FromUtf8(dir / name(t, k)));
        } catch (...) {
          ++failures;
        }
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(failures, 0);
  for (int t = 0; t < kThreads; ++t) {
    const std::string expected = ReadFile(dir / ("REF" + std::to_string(t) + ".XLS"));
    for (int k = 0; k < kSaves; ++k) EXPECT_EQ(ReadFile(dir / name(t, k)), expected) << name(t, k);
  }
}

}  // namespace
}  // namespace skov
