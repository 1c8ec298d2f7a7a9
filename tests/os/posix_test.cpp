// The POSIX implementation of the OS interface: the documents folder, the log's fresh files, the safe replace.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>

#include "os/os_posix.h"
#include "support/temp_dir.h"

namespace skov {
namespace {

TEST(DocumentsFolder, ReadsUserDirs) {
  struct Case {
    std::string content;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n", "/home/u/Dokumente"},
      {"# comment\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\r\nXDG_DOCUMENTS_DIR=\"$HOME/Dok\"\r\n", "/home/u/Dok"},
      {"  XDG_DOCUMENTS_DIR=\"/srv/docs/\"  \n", "/srv/docs"},
      {"XDG_DOCUMENTS_DIR=\"$HOME/Meine \\\"Dokumente\\\"\"\n", "/home/u/Meine \"Dokumente\""},
      {"XDG_DOCUMENTS_DIR=\"$HOME\"\n", "/home/u"},
      {"XDG_DOCUMENTS_DIR=\"$HOME/a\"\nXDG_DOCUMENTS_DIR=\"$HOME/b\"\n", "/home/u/b"},
      {"#XDG_DOCUMENTS_DIR=\"$HOME/x\"\n", ""},
      {"XDG_DOCUMENTS_DIR=relative/path\n", ""},
      {"XDG_DOCUMENTS_DIR=\"relative\"\n", ""},
      {"XDG_DOCUMENTS_DIRS=\"$HOME/x\"\n", ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.content);
    EXPECT_EQ(os::posix::DocumentsDirFromUserDirs(c.content, "/home/u"), c.expected);
  }
}

TEST(DocumentsFolder, FallsBackToHomeDocuments) {
  testing::TempDir home;
  testing::TempDir config;
  testing::WriteFile(config / "user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Texte\"\n");
  testing::WriteFile(home / ".config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Eigene\"\n");
  struct Case {
    const char* home;
    const char* config;
    std::string expected;
  };
  const std::string h = home.str();
  const std::string cfg = config.str();
  const std::vector<Case> cases = {
      {h.c_str(), cfg.c_str(), h + "/Texte"},
      {h.c_str(), nullptr, h + "/Eigene"},
      {h.c_str(), "relative", h + "/Eigene"},
      {"/nonexistent-home", nullptr, "/nonexistent-home/Documents"},
      {"/nonexistent-home/", "/nonexistent-config", "/nonexistent-home/Documents"},
      {nullptr, nullptr, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.home ? c.home : "(no HOME)") + " " + (c.config ? c.config : "(no config)"));
    std::map<std::string, const char*> vars = {{"HOME", c.home}, {"XDG_CONFIG_HOME", c.config}};
    EXPECT_EQ(ToFileName(os::DocumentsFolder([&](const char* n) { return vars.count(n) ? vars[n] : nullptr; })), c.expected);
  }
}

// A fresh file is never written through an old name: the name is removed
// (a link, not what it points to) and made anew; what is not a plain file or
// may not be written stays as it is.
TEST(CreateFresh, TouchesNoOtherFile) {
  namespace fs = std::filesystem;
  struct Case {
    const char* what;
    std::function<void(const std::string& dir)> arrange;
    bool created;        // else it fails with `fault`
    os::Fault fault;
    const char* stays;   // this file keeps "alt"
  };
  const Case cases[] = {
      {"hard link", [](const std::string& d) { fs::create_hard_link(d + "/other", d + "/LOG"); }, true, {}, "other"},
      {"symbolic link", [](const std::string& d) { fs::create_symlink(d + "/other", d + "/LOG"); }, true, {}, "other"},
      {"missing", [](const std::string&) {}, true, {}, "other"},
      {"FIFO", [](const std::string& d) { ::mkfifo((d + "/LOG").c_str(), 0600); }, false, os::Fault::kNotRegular, "other"},
      {"folder", [](const std::string& d) { fs::create_directory(d + "/LOG"); }, false, os::Fault::kNotRegular, "other"},
      {"read-only", [](const std::string& d) {
         testing::WriteFile(d + "/LOG", "alt");
         fs::permissions(d + "/LOG", fs::perms::owner_read);
       }, ::geteuid() == 0, os::Fault::kDenied, "LOG"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::TempDir dir;
    testing::WriteFile(dir / "other", "alt");
    c.arrange(dir.str());
    try {
      os::File file = os::CreateFresh(FromUtf8(dir / "LOG"));
      const uint8_t bytes[] = {'n', 'e', 'u'};
      const std::span<const uint8_t> piece(bytes);
      os::WriteAll(file, os::Pieces(&piece, 1));
      os::Close(file);
      EXPECT_TRUE(c.created);
      EXPECT_EQ(testing::ReadFile(dir / "LOG"), "neu");
    } catch (const os::Failure& e) {
      EXPECT_FALSE(c.created) << e.what();
      EXPECT_EQ(e.fault(), c.fault) << e.what();
    }
    if (!c.created || std::string(c.stays) != "LOG") {
      EXPECT_EQ(testing::ReadFile(dir / c.stays), "alt");
    }
  }
}

}  // namespace
}  // namespace skov
