// Labels of the program that runs on the calling thread, as Regina's RexxCallBack finds them.
// Regina refuses to call a label that stands inside a DO, SELECT or IF group (CALL answers
// error 16.3), but RexxCallBack, asked for one, releases a string twice and corrupts the
// interpreter's memory. So the package reads the program's source and asks only for labels it
// finds outside any group there; when it cannot read the source, it asks for none.
#include "handler.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace quillmark {

namespace {

using Text = std::basic_string<char, std::char_traits<char>, RexxAllocator<char>>;
template <class T> using List = std::vector<T, RexxAllocator<T>>;

char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool symbolCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           std::strchr(".!?_@#$", c) || static_cast<unsigned char>(c) >= 0x80;
}

// The first label of each name, upper-cased, and whether it stands inside a group.
struct Label {
    Text name;
    bool grouped;
};

// Reads the source clause by clause: enough of Rexx to know where clauses and groups begin and
// end (strings, nested comments, line comments, continuation commas, THEN, ELSE, OTHERWISE).
class Scanner {
  public:
    Scanner(const char* text, std::size_t length) : s(text), n(length) {}

    List<Label> labels() {
        List<Label> found;
        // Regina skips a first line that starts with #!.
        if (n >= 2 && s[0] == '#' && s[1] == '!')
            while (i < n && s[i] != '\n' && s[i] != '\r') ++i;
        int depth = 0;
        bool afterBranch = false; // the clause follows THEN, ELSE or OTHERWISE
        for (;;) {
            skipBlanks(true);
            if (i >= n) break;
            Text word = symbol();
            if (word.empty()) {
                // Not a keyword: a string, an operator; the clause is an expression or command.
                skipClause();
                afterBranch = false;
                continue;
            }
            skipBlanks(false);
            if (i < n && s[i] == ':') {
                ++i;
                bool known = false;
                for (const Label& l : found) known = known || l.name == word;
                if (!known) found.push_back(Label{word, depth > 0 || afterBranch});
                continue; // the label is a clause of its own
            }
            const bool assignment = i < n && s[i] == '=' && !(i + 1 < n && s[i + 1] == '=');
            afterBranch = false;
            if (assignment) {
                skipClause();
            } else if (word == "DO" || word == "SELECT") {
                ++depth;
                skipClause();
            } else if (word == "END") {
                if (depth > 0) --depth;
                skipClause();
            } else if (word == "IF" || word == "WHEN") {
                afterBranch = skipToThen();
            } else if (word == "THEN" || word == "ELSE" || word == "OTHERWISE") {
                afterBranch = true; // what follows is a clause of its own
            } else {
                skipClause();
            }
        }
        return found;
    }

  private:
    const char* s;
    std::size_t n;
    std::size_t i = 0;
    bool continued = false; // the last token of the line was a comma

    void skipComment() {
        int nesting = 0;
        do {
            if (i + 1 < n && s[i] == '/' && s[i + 1] == '*') {
                ++nesting;
                i += 2;
            } else if (i + 1 < n && s[i] == '*' && s[i + 1] == '/') {
                --nesting;
                i += 2;
            } else {
                ++i;
            }
        } while (nesting > 0 && i < n);
    }

    // Whether only blanks and comments stand between position `from` and the line's end: a
    // comma there continues the clause on the next line.
    bool lineEndsAfter(std::size_t from) {
        const std::size_t saved = i;
        i = from;
        for (;;) {
            while (i < n && (s[i] == ' ' || s[i] == '\t' || s[i] == '\f' || s[i] == '\v')) ++i;
            if (i + 1 < n && s[i] == '/' && s[i + 1] == '*') {
                skipComment();
                continue;
            }
            break;
        }
        const bool ends =
            i >= n || s[i] == '\n' || s[i] == '\r' || (i + 1 < n && s[i] == '-' && s[i + 1] == '-');
        i = saved;
        return ends;
    }

    // Blanks and comments; between clauses, line ends, semicolons and continuation commas too,
    // and within one, a line end after a continuation comma.
    void skipBlanks(bool betweenClauses) {
        while (i < n) {
            char c = s[i];
            if (c == ' ' || c == '\t' || c == '\f' || c == '\v' || c == '\x1a') {
                ++i;
            } else if (c == '\n' || c == '\r') {
                if (!betweenClauses && !continued) return;
                continued = false;
                // CR LF (files written on Windows) is one line end, not two.
                i += c == '\r' && i + 1 < n && s[i + 1] == '\n' ? 2 : 1;
            } else if (betweenClauses && (c == ';' || (c == ',' && lineEndsAfter(i + 1)))) {
                continued = c == ',';
                ++i;
            } else if (i + 1 < n && c == '/' && s[i + 1] == '*') {
                skipComment();
            } else if (i + 1 < n && c == '-' && s[i + 1] == '-') {
                while (i < n && s[i] != '\n' && s[i] != '\r') ++i;
            } else {
                return;
            }
        }
    }

    Text symbol() {
        Text word;
        while (i < n && symbolCharacter(s[i])) word += upper(s[i++]);
        return word;
    }

    void skipString() {
        char quote = s[i++];
        while (i < n) {
            if (s[i] == quote) {
                if (i + 1 < n && s[i + 1] == quote) {
                    i += 2;
                    continue;
                }
                ++i;
                return;
            }
            if (s[i] == '\n' || s[i] == '\r') return; // unmatched: Regina reports it
            ++i;
        }
    }

    // One token of a clause; false at the clause's end, which it does not pass.
    bool token(Text* word) {
        word->clear();
        skipBlanks(false);
        if (i >= n || s[i] == ';' || s[i] == '\n' || s[i] == '\r') return false;
        continued = false;
        if (s[i] == '\'' || s[i] == '"') {
            skipString();
        } else if (symbolCharacter(s[i])) {
            *word = symbol();
        } else {
            continued = s[i] == ',';
            ++i;
        }
        return true;
    }

    void skipClause() {
        Text word;
        while (token(&word)) {
        }
    }

    // The expression of IF or WHEN, up to THEN (which ends the clause) or the clause's end.
    bool skipToThen() {
        Text word;
        while (token(&word))
            if (word == "THEN") return true;
        return false;
    }
};

// Labels of program files, read again only when a file changes.
struct FileLabels {
    Text path;
    FileStamp stamp;
    List<Label> labels;
};

long long now() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// When the package was loaded: a program reads its source before it loads the package, so a
// file changed since then may no longer be what runs. A time still to come was not set by a
// change during this run (a file from a machine whose clock runs ahead): it is trusted.
const long long kLoadedAt = now();

bool changedSinceLoaded(const FileStamp& stamp) {
    return stamp.modified > kLoadedAt && stamp.modified <= now();
}

std::mutex cacheLock;
List<FileLabels>& cache() {
    static List<FileLabels> files;
    return files;
}

bool readFile(const Text& path, Text* text) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    char block[8192];
    std::size_t got;
    while ((got = std::fread(block, 1, sizeof block, f)) > 0) text->append(block, got);
    std::fclose(f);
    return true;
}

LabelPlace placeIn(const List<Label>& labels, const Text& wanted) {
    for (const Label& l : labels)
        if (l.name == wanted) return l.grouped ? LabelPlace::Grouped : LabelPlace::Callable;
    return LabelPlace::Missing;
}

// Looked up in the cache itself: a program that parses line by line asks once per call.
LabelPlace placeInFile(const Text& path, const Text& wanted) {
    FileStamp stamp;
    if (!stampOf(path.c_str(), &stamp) || changedSinceLoaded(stamp)) return LabelPlace::Unreadable;
    std::lock_guard<std::mutex> guard(cacheLock);
    for (const FileLabels& f : cache())
        if (f.path == path && f.stamp == stamp) return placeIn(f.labels, wanted);
    Text text;
    if (!readFile(path, &text)) return LabelPlace::Unreadable;
    if (cache().size() >= 16) cache().erase(cache().begin());
    cache().push_back(FileLabels{path, stamp, Scanner(text.data(), text.size()).labels()});
    return placeIn(cache().back().labels, wanted);
}

// The file the interpreter names as the running program's source ("UNIX COMMAND /path/of the
// program.rexx": the name may hold blanks); empty for a program run from a string.
bool programFile(Text* path) {
    SHVBLOCK request{};
    request.shvname = rxstring(6, const_cast<char*>("SOURCE"));
    request.shvnamelen = 6;
    request.shvcode = RXSHV_PRIV;
    RexxVariablePool(&request);
    if (!request.shvvalue.strptr) return false;
    Text source(request.shvvalue.strptr, request.shvvalue.strlength);
    release(request.shvvalue.strptr);
    std::size_t first = source.find(' ');
    std::size_t second = first == Text::npos ? first : source.find(' ', first + 1);
    if (second == Text::npos) return false;
    *path = source.substr(second + 1);
    return true;
}

thread_local const RXSTRING* tRunningSource = nullptr;

} // namespace

RunningSource::RunningSource(const RXSTRING* source) : saved(tRunningSource) {
    tRunningSource = source;
}

RunningSource::~RunningSource() {
    tRunningSource = saved;
}

LabelPlace placeOfLabel(const char* name) {
    Text path;
    if (!programFile(&path)) return LabelPlace::Unreadable;
    Text wanted;
    for (const char* p = name; *p; ++p) wanted += upper(*p);
    if (!path.empty()) return placeInFile(path, wanted);
    // An in-store procedure of the package's own, running on this thread.
    if (tRunningSource && tRunningSource->strptr)
        return placeIn(Scanner(tRunningSource->strptr, tRunningSource->strlength).labels(), wanted);
    return LabelPlace::Unreadable; // a program some other host runs from a string
}

} // namespace quillmark
