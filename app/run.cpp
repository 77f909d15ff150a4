// The conversion run: every *.html page of the current folder is copied to a .php page of the
// same base name, with each ".html" in its lines rewritten to ".php". The edition is fixed when
// the program is built: v0.1 always copies; v0.2 reads a switch for rename mode or usage.
#include "app/run.h"

#include "app/args.h"
#include "app/frame.h"
#include "runtime/console/console.h"
#include "runtime/files/files.h"
#include "runtime/fs/fs.h"
#include "runtime/strings/strings.h"

namespace {

constexpr bool kEditionV02 = PAGEHOP_EDITION_V02 != 0;

// Object numbers: one scan, the source page and its target.
constexpr intptr_t kScan = 0;
constexpr intptr_t kSource = 0;
constexpr intptr_t kTarget = 1;

constexpr char16_t kSeparator[] = u"=========================================";
constexpr char16_t kSearched[] = u".html";
constexpr char16_t kTargetExt[] = u".php";
constexpr const char16_t* kPattern = u"*.html";
static_assert(sizeof kTargetExt <= sizeof kSearched, "a line is rewritten where it lies");
static_assert(sizeof kSeparator / sizeof kSeparator[0] == 41 + 1, "41 '=' and the terminator");

// The run's variables, for the whole process. Strings own their buffers. The lines being
// copied are no variable: they stay on the stack where they were read (see rewrite_run).
struct RunState {
  char16_t* target_ext;   // ".php"
  char16_t* folder;       // the current directory, with its trailing separator
  char16_t* page_name;    // v0.2: the current entry's name
  char16_t* target_name;  // the current target: the entry's base name and target_ext
  char16_t* switch_text;  // v0.2: the first parameter, upper-cased
  int32_t rename_mode;    // v0.2: 1 deletes each source once its target is complete
  FileIdentity page;      // the file that the current source is; {0, 0} when unknown
  int32_t page_names;     // how many names that file has; 0 when unknown
  int32_t permissions;    // of a target the run creates: the page's read and write bits
  int64_t page_group;     // the current source's group, the one that may have the group bits
  int32_t format;         // the page's text format, which its target gets too
  int32_t shared_target;  // 1 while the current target is one that two pages can share
};

constinit RunState run = {};

enum class Page { next, cancelled };

void print(const char16_t* text) { console_write_line(text); }

// Prints the pieces joined, as one line.
void print(const char16_t* first, const char16_t* second, const char16_t* third = nullptr) {
  int32_t mark = temp_mark();
  str_concat(first);
  str_concat(second);
  str_concat(third);
  console_write_line(temp_at(mark));
  temp_restore(mark);
}

bool switch_is(const char16_t* a, const char16_t* b, const char16_t* c) {
  return str_equal(run.switch_text, a) || str_equal(run.switch_text, b) ||
         str_equal(run.switch_text, c);
}

// Banner and mode line. False when the run ends here (the usage text).
bool open_run() {
  console_open(TEXT_UTF8);
  if constexpr (!kEditionV02) {
    print(u"pagehop v0.1");
    str_assign(run.target_ext, kTargetExt);
    print(u"Copy .html to ", run.target_ext,
          u" including changing internal links in current folder.");
    return true;
  }
  print(u"pagehop v0.2");
  int32_t mark = temp_mark();
  args_next(mark);
  str_upper(temp_at(mark), mark);
  str_assign_temp(run.switch_text, mark);
  if (switch_is(u"R", u"-R", u"/R")) {
    print(u"  Renaming .html to .php including changing internal links to .php in current folder.");
    run.rename_mode = 1;
  } else if (switch_is(u"?", u"-?", u"/?")) {
    print(u"  Copies all .html files to .php and renames links to .php in files");
    print(u"  Use pagehop /r to rename .html rather than copy");
    return false;
  } else {
    print(u"  Copying .html to .php including changing internal links in current folder.");
    run.rename_mode = 0;
  }
  str_assign(run.target_ext, kTargetExt);
  return true;
}

// Writes the run of lines read onto the stack at `mark` (each ended by an LF unit) to the
// target, with every ".html" rewritten; a rewritten line is echoed. The runs of lines without
// one are written as they are, each run at once. Every step takes lengths, as a line may hold
// zero units, and a line's replacement starts where the search found its first occurrence. A
// line is rewritten where it lies: the target's extension is shorter than the searched one, so
// the new line fits, and a line of any length is held once and never copied. The run is reached
// through its mark after each call, as a call that pushes onto the stack may move it.
void rewrite_run(int32_t mark) {
  int32_t length = temp_length(mark);
  int32_t at = 0;  // the first unit not yet written, which starts a line
  while (int32_t found = str_find_n(temp_at(mark) + at, length - at, kSearched)) {
    const char16_t* text = temp_at(mark);
    int32_t hit = at + found - 1;
    int32_t start = at + str_find_last_n(text + at, hit - at, u'\n');
    int32_t line_end = str_find_n(text + hit, length - hit, u"\n");
    int32_t end = line_end ? hit + line_end - 1 : length;
    file_write_lines_n(kTarget, text + at, start - at);
    int32_t new_length = str_replace_in_place_n(temp_edit(mark) + start, end - start, kSearched,
                                                run.target_ext, hit - start + 1);
    console_write_line_n(temp_at(mark) + start, new_length);
    file_write_line_n(kTarget, temp_at(mark) + start, new_length);
    at = end < length ? end + 1 : length;
  }
  file_write_lines_n(kTarget, temp_at(mark) + at, length - at);
}

// The target's name: the entry's name without its last extension, then target_ext. The whole
// name counts, so a quotation mark inside it is an ordinary character. A leading dot starts no
// extension, so a page named ".html" keeps its whole name as the base, which is also the base of
// ".html.html": that one target is the only one two pages can share (in any case of letters,
// where names ignore it).
void set_target_name(const char16_t* entry_name) {
  int32_t mark = temp_mark();
  str_file_part(entry_name, STR_DROP_EXTENSION | STR_QUOTES_ORDINARY, mark);
  run.shared_target = temp_length(mark) == str_len(kSearched) &&
                      str_find(temp_at(mark), kSearched, 1, STR_CASE_INSENSITIVE) == 1;
  str_concat(run.target_ext);
  str_assign_temp(run.target_name, mark);
}

Page cancel() {
  print(run.target_ext, u" files are open, program cancelled.");
  file_close(kTarget);
  file_close(kSource);
  return Page::cancelled;
}

// What the run needs to know of the source it opened: which file it is, so that the target
// never is the page itself; its permission bits and group, so that a target never grants more
// access than its page (others keep the page's read and write bits, and so does the group while
// the target's group is the page's; the owner always has both so that a later run can replace
// the target; 0600 when the page's bits cannot be had); and its text format: a page that starts
// with a UTF-16 byte-order mark is UTF-16 in its byte order, and its target is written in the
// same.
void note_source() {
  run.format = file_detect_format(kSource);
  FileStatus page = file_status(kSource);
  run.page = page.identity;
  run.page_names = page.names;
  run.page_group = page.group;
  run.permissions = 0600 | (page.permissions >= 0 ? page.permissions & 0066 : 0);
}

// Opens the current entry of the scan as the source. False when it cannot be read.
bool open_source() {
  // Edition v0.1 keeps no variable for the page's name: it asks the scan for it once to open the
  // page and once more to make the target's name.
  int32_t mark = temp_mark();
  dir_entry_name(kScan, mark);
  if constexpr (kEditionV02) str_assign_temp(run.page_name, mark);
  bool opened = file_open_read(kSource, kEditionV02 ? run.page_name : temp_at(mark),
                               run.rename_mode ? FILE_OPEN_DELETE : 0) != 0;
  temp_restore(mark);
  if (!opened) return false;
  note_source();
  if constexpr (!kEditionV02) dir_entry_name(kScan, mark);
  set_target_name(kEditionV02 ? run.page_name : temp_at(mark));
  temp_restore(mark);
  return true;
}

// Deletes the converted page, which is still open, so that no new file can have taken its inode
// number: a file saved under its name meanwhile is never deleted. One that had to be left under
// the name it was moved to for the check is named, as it holds a version of the page: the line
// is made on the stack, the aside name right after its label.
void delete_source() {
  int32_t mark = temp_mark();
  str_concat(u"Kept aside : ");
  if (file_delete(kSource, run.page_name, temp_mark()) == FILE_SET_ASIDE) print(temp_at(mark));
  temp_restore(mark);
}

Page convert_page() {
  print(kSeparator);
  if (!open_source()) return Page::next;

  // Probe the target: it must be openable, and an earlier one is deleted before the copy, unless
  // it is the page's only name (the page a symbolic link to its own target), whose text would
  // then live on only in its converted copy; another name of the page may go. One that survives
  // its deletion is written over only if it is the runner's own (on POSIX, where it then loses
  // the access a new target would not have) and not the page itself. A target that the probe
  // made (nothing had its name) is new and the run's own, with the access a new target gets: it
  // stays open as the target.
  if (!file_open(kTarget, run.target_name, run.format, run.permissions, run.page_group)) {
    return cancel();
  }
  bool made = file_created(kTarget) != 0;
  bool page_itself = same_file(file_identity(kTarget), run.page) && run.page_names <= 1;
  if (!made) {
    file_close(kTarget);
    if (!page_itself) fs_delete_file(run.target_name);
  }
  print(u"Created : ", run.target_name);
  if (page_itself ||
      (!made && !file_open(kTarget, run.target_name, run.format | FILE_OPEN_OWN, run.permissions,
                           run.page_group)) ||
      same_file(file_identity(kTarget), run.page)) {
    return cancel();
  }

  while (!file_eof(kSource)) {
    runtime_checkpoint();
    int32_t mark = temp_mark();
    file_read_lines(kSource, mark);
    rewrite_run(mark);
    temp_restore(mark);
  }
  // A UTF-16 page may end in a byte that makes no unit: it ends the target too.
  uint8_t odd_byte;
  if (file_read_bytes(kSource, &odd_byte, 1) == 1) file_write_bytes(kTarget, &odd_byte, 1);
  // A source that failed to read to its end leaves its target short.
  bool source_read = file_error(kSource) == 0;

  // A target that survived its deletion may hold a longer old text: cut it at the new end.
  // Only a target whose every byte reached the file stands for its page; in rename mode the
  // source goes only then, once the target is on the storage device (a crash of the machine
  // must not leave an empty target and no page), and only while its name still leads to the
  // file that was converted. The source stays open until its deletion has been decided. A page
  // whose target another page shares is kept: whichever of the two is converted last replaces
  // the target, and the other page must not have gone with its only copy.
  file_truncate(kTarget);
  if (kEditionV02 && run.rename_mode) file_sync(kTarget);
  if (!file_close(kTarget) || !source_read) {
    print(u"Write failed : ", run.target_name);
  } else if (kEditionV02 && run.rename_mode && !run.shared_target) {
    delete_source();
  }
  file_close(kSource);
  return Page::next;
}

}  // namespace

void run_state_clear() { run = {}; }

void run_conversion() {
  if (!open_run()) return;

  int32_t mark = temp_mark();
  fs_current_directory(mark);
  str_assign_temp(run.folder, mark);

  if (!dir_examine(kScan, run.folder, kPattern)) {
    print(u"No .html files found");
  } else {
    while (dir_next(kScan)) {
      runtime_checkpoint();
      if (dir_entry_type(kScan) != DIR_ENTRY_FILE) continue;
      if (convert_page() == Page::cancelled) return;
    }
    dir_finish(kScan);
  }

  print(u"");
  print(u"Made with pagehop");
  console_close();
}
