// The directory scan, the current directory and file deletion, in scratch folders. Where the
// builds differ by design, the expectation branches on windows_build().
#include "runtime/fs/fs.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

#include "runtime/objects/objects.h"
#include "support.h"

namespace fs = std::filesystem;

namespace {

const std::u16string SEP = windows_build() ? u"\\" : u"/";
constexpr int32_t F = DIR_ENTRY_FILE, D = DIR_ENTRY_DIRECTORY;
using Listing = std::map<std::u16string, int32_t>;  // entry name to entry type

void touch(const fs::path& path) { std::ofstream(path) << "x"; }

std::u16string entry_name(intptr_t number) {
  int32_t mark = temp_mark();
  dir_entry_name(number, mark);
  std::u16string name = at(mark);
  temp_restore(mark);
  return name;
}

Listing drain(intptr_t number) {
  Listing out;
  while (dir_next(number)) out[entry_name(number)] = dir_entry_type(number);
  return out;
}

// Linux lists the process's descriptors; elsewhere -1.
int open_descriptors() {
  std::error_code error;
  fs::directory_iterator it(windows_build() ? "" : "/proc/self/fd", error);
  return error ? -1 : static_cast<int>(std::distance(it, fs::directory_iterator()));
}

// Removes a folder tree one relative step at a time, as its full paths may be too long.
void remove_deep(const fs::path& name) {
  fs::current_path(name);
  std::vector<fs::path> entries;
  for (const auto& entry : fs::directory_iterator(".")) entries.push_back(entry.path().filename());
  for (const auto& entry : entries) {
    if (fs::is_directory(fs::symlink_status(entry))) {
      remove_deep(entry);
    } else {
      fs::remove(entry);
    }
  }
  fs::current_path("..");
  fs::remove(name);
}

// The test runs in a scratch folder; the folder and the working directory are restored after.
class Fs : public StackTest {
 protected:
  void SetUp() override {
    StackTest::SetUp();
    saved = fs::current_path();
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    scratch = fs::temp_directory_path() / ("pagehop-fs-" + std::to_string(stamp));
    fs::create_directory(scratch);
    fs::current_path(scratch);
    scratch = fs::current_path();  // as the system spells it
  }
  void TearDown() override {
    dir_end();
    fs::current_path(scratch);
    if (fs::exists(std::string(200, 'd'))) remove_deep(std::string(200, 'd'));
    fs::current_path(saved);
    fs::remove_all(scratch);
    StackTest::TearDown();
  }
  // A relative chain of folders of exactly `length` bytes (at least 201).
  static std::string chain(size_t length, std::error_code& error) {
    std::string path = std::string(200, 'd');
    while (length - path.size() > 201) path += "/" + std::string(200, 'd');
    path += "/" + std::string(length - path.size() - 1, 'e');
    fs::create_directories(path, error);
    return path;
  }
  fs::path saved, scratch;
};

TEST_F(Fs, PatternsSelectEntriesByEachBuildsRules) {
  for (const char16_t* name :
       {u"page.html", u"OTHER.HTML", u".html", u".x.html", u"README", u"caf\u00e9.html"}) {
    touch(std::u16string(name));
  }
  fs::create_directory("a.html");
  if (!windows_build()) fs::create_directory_symlink("a.html", "b.html");

  Listing html = {
      {u".html", F}, {u".x.html", F}, {u"a.html", D}, {u"page.html", F}, {u"caf\u00e9.html", F}};
  Listing all = html;
  all.insert({{u".", D}, {u"..", D}, {u"README", F}, {u"OTHER.HTML", F}});
  Listing win_html = html;
  win_html[u"OTHER.HTML"] = F;
  html[u"b.html"] = F;  // a link to a directory is not a directory
  if (!windows_build()) all[u"b.html"] = F;

  struct Case {
    const char16_t* pattern;
    Listing posix, windows;
  } cases[] = {
      {u"*.html", html, win_html},  // hidden names match; only Windows folds the case
      {u"*.HTML", {{u"OTHER.HTML", F}}, win_html},
      {u"*.*", all, all},  // names without a dot too
      {u"*", all, all},
      {u"", all, all},
      {nullptr, all, all},
      {u"?.html", {{u"a.html", D}, {u"b.html", F}}, {{u"a.html", D}}},
      {u"[ab].html", {{u"a.html", D}, {u"b.html", F}}, {}},  // a set only on POSIX
      {u"*.php", {}, {}},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    ASSERT_NE(dir_examine(0, scratch.u16string().c_str(), cases[i].pattern), 0);
    EXPECT_EQ(drain(0), windows_build() ? cases[i].windows : cases[i].posix) << "case " << i;
  }
}

TEST_F(Fs, AScanFromStartToFinish) {
  EXPECT_EQ(dir_examine(0, u"missing", u"*"), 0);
  EXPECT_EQ(dir_next(0), 0);
  EXPECT_EQ(dir_entry_type(0), DIR_ENTRY_NONE);

  touch("page.html");
  for (const char16_t* dir : {u"", u".", static_cast<const char16_t*>(nullptr)}) {
    ASSERT_EQ(dir_examine(0, dir, u"page.html"), 1);
    // Windows has found the first match already; POSIX has read nothing yet.
    EXPECT_EQ(entry_name(0), windows_build() ? u"page.html" : u"");
    EXPECT_EQ(dir_entry_type(0), F);
    EXPECT_EQ(drain(0), (Listing{{u"page.html", F}}));
    EXPECT_EQ(dir_next(0), 0);  // again at the end
    EXPECT_EQ(entry_name(0), windows_build() ? u"page.html" : u"");
    dir_finish(0);
    EXPECT_EQ(dir_entry_type(0), DIR_ENTRY_NONE);
    dir_finish(0);
  }
}

TEST_F(Fs, BusyNumbersDynamicScansAndDirEnd) {
  fs::create_directory("one");
  touch("one/first.html");
  touch("second.html");
  int before = open_descriptors();
  ASSERT_NE(dir_examine(0, u"one", u"*.html"), 0);
  ASSERT_NE(dir_examine(0, nullptr, u"*.html"), 0);                 // finishes the scan of "one"
  EXPECT_EQ(open_descriptors() - before, windows_build() ? 0 : 1);  // one stream, not two
  intptr_t a = dir_examine(OBJ_AUTO, u"one", u"*");
  intptr_t b = dir_examine(OBJ_AUTO, u"one", u"*.html");
  EXPECT_LT(a, -1);
  EXPECT_LT(b, -1);
  EXPECT_NE(a, b);
  EXPECT_EQ(dir_examine(-5, nullptr, u"*"), 0);
  EXPECT_EQ(drain(b), (Listing{{u"first.html", F}}));
  EXPECT_EQ(drain(0), (Listing{{u"second.html", F}}));
  dir_end();
  for (intptr_t n : {intptr_t{0}, a, b}) EXPECT_EQ(dir_entry_type(n), DIR_ENTRY_NONE);
  EXPECT_EQ(open_descriptors(), before);
  dir_end();
}

TEST_F(Fs, CurrentDirectoryEndsWithOneSeparatorOrIsEmptyWhenTooLong) {
  int32_t mark = temp_mark();
  fs_current_directory(mark);
  EXPECT_EQ(at(mark), scratch.u16string() + SEP);
  fs::current_path(scratch.root_path());
  fs_current_directory(mark);
  EXPECT_EQ(at(mark), scratch.root_path().u16string());  // "/" or "C:\"
  fs::current_path(scratch);

  // Whole lengths around the buffers: 4096 bytes on POSIX, 259 units and a "\" on Windows.
  size_t base = scratch.u16string().size() + 1;
  for (auto [length, fits] :
       windows_build() ? std::vector<std::pair<size_t, bool>>{{259, true}, {260, false}}
                       : std::vector<std::pair<size_t, bool>>{{4095, true}, {4096, false}}) {
    std::error_code error;
    fs::current_path(chain(length - base, error), error);
    if (error) continue;  // a system that refuses such a directory has nothing to report
    fs_current_directory(mark);
    EXPECT_EQ(at(mark).size(), fits ? length + 1 : 0) << length;
    fs::current_path(scratch);
  }
}

// POSIX entries are examined relative to the open folder: however deep the folder, and when it
// is renamed in the middle of the scan, every entry is delivered with its type.
TEST_F(Fs, APosixScanListsEveryEntryOfADeepOrRenamedFolder) {
  if (windows_build()) GTEST_SKIP() << "a folder being scanned cannot be renamed on Windows";
  std::error_code error;
  std::string deep = chain(4094, error);
  ASSERT_FALSE(error);
  fs::current_path(deep);
  touch(std::string(250, 'f'));  // its full path is longer than any path the system takes
  fs::current_path(scratch);
  ASSERT_NE(dir_examine(0, std::u16string(deep.begin(), deep.end()).c_str(), u"*"), 0);
  EXPECT_EQ(drain(0), (Listing{{u".", D}, {u"..", D}, {std::u16string(250, u'f'), F}}));

  fs::create_directory("moving");
  for (const char* name : {"moving/a.html", "moving/b.html", "moving/c.html"}) touch(name);
  fs::create_directory("moving/d.html");
  ASSERT_NE(dir_examine(0, (scratch / "moving").u16string().c_str(), u"*.html"), 0);
  ASSERT_NE(dir_next(0), 0);
  Listing seen = {{entry_name(0), dir_entry_type(0)}};
  fs::rename("moving", "moved");
  seen.merge(drain(0));
  EXPECT_EQ(seen, (Listing{{u"a.html", F}, {u"b.html", F}, {u"c.html", F}, {u"d.html", D}}));
}

TEST_F(Fs, DeletionReportsWhetherAFileWent) {
  touch("page.php");
  fs::create_directory("folder");
  EXPECT_NE(fs_delete_file(u"page.php"), 0);
  EXPECT_FALSE(fs::exists("page.php"));
  for (const char16_t* name :
       {u"page.php", u"folder", u"", static_cast<const char16_t*>(nullptr)}) {
    EXPECT_EQ(fs_delete_file(name), 0);
  }
}

}  // namespace
