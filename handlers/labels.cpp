// Labels of the program that runs on the calling thread, as Regina's RexxCallBack finds them.
// Regina refuses to call a label that stands inside a DO, SELECT or IF group (CALL answers
// error 16.3), but RexxCallBack, asked for one, releases a string twice and corrupts the
// interpreter's memory. So the package reads the program's source and never asks for one.
#include "handler.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace quillmark {

namespace {

char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool symbolCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           std::strchr(".!?_@#$", c) || static_cast<unsigned char>(c) >= 0x80;
}

// The first label of each name, upper-cased, and whether it stands inside a group.
struct Label {
    std::string name;
    bool grouped;
};

// Reads the source clause by clause: enough of Rexx to know where clauses and groups begin and
// end (strings, nested comments, line comments, continuation commas, THEN, ELSE, OTHERWISE).
class Scanner {
  public:
    Scanner(const char* text, std::size_t length) : s(text), n(length) {}

    std::vector<Label> labels() {
        std::vector<Label> found;
        // Regina skips a first line that starts with #!.
        if (n >= 2 && s[0] == '#' && s[1] == '!')
            while (i < n && s[i] != '\n' && s[i] != '\r') ++i;
        int depth = 0;
        bool afterBranch = false; // the clause follows THEN, ELSE or OTHERWISE
        for (;;) {
            skipBlanks(true);
            if (i >= n) break;
            std::string word = symbol();
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
                afterBranch = true; // what follows on the line is a clause of its own
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

    // Blanks and comments; line ends too when between clauses, or after a continuation comma.
    void skipBlanks(bool lineEnds) {
        while (i < n) {
            char c = s[i];
            if (c == ' ' || c == '\t' || c == '\f' || c == '\v' || c == '\x1a') {
                ++i;
            } else if (c == '\n' || c == '\r') {
                if (!lineEnds && !continued) return;
                continued = false;
                ++i;
            } else if (c == ';' && lineEnds) {
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

    std::string symbol() {
        std::string word;
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
    bool token(std::string* word) {
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
        std::string word;
        while (token(&word)) {
        }
    }

    // The expression of IF or WHEN, up to THEN (which ends the clause) or the clause's end.
    bool skipToThen() {
        std::string word;
        while (token(&word))
            if (word == "THEN") return true;
        return false;
    }
};

// Labels of files, read again only when the file changes.
struct FileLabels {
    std::string path;
    std::filesystem::file_time_type time;
    std::uintmax_t size;
    std::vector<Label> labels;
};

std::mutex cacheLock;
std::vector<FileLabels> cache;

bool readFile(const std::string& path, std::string* text) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    char block[8192];
    std::size_t got;
    while ((got = std::fread(block, 1, sizeof block, f)) > 0) text->append(block, got);
    std::fclose(f);
    return true;
}

// The labels of the file the interpreter names as the running program's source.
bool labelsOfProgramFile(std::vector<Label>* labels) {
    SHVBLOCK request{};
    request.shvname = rxstring(6, const_cast<char*>("SOURCE"));
    request.shvnamelen = 6;
    request.shvcode = RXSHV_PRIV;
    RexxVariablePool(&request);
    if (!request.shvvalue.strptr) return false;
    // "UNIX COMMAND /path/of the/program.rexx": the file name may hold blanks.
    std::string source(request.shvvalue.strptr, request.shvvalue.strlength);
    release(request.shvvalue.strptr);
    std::size_t first = source.find(' ');
    std::size_t second = first == std::string::npos ? first : source.find(' ', first + 1);
    if (second == std::string::npos || second + 1 >= source.size()) return false;
    std::string path = source.substr(second + 1);
    std::error_code error;
    auto time = std::filesystem::last_write_time(path, error);
    if (error) return false;
    auto size = std::filesystem::file_size(path, error);
    if (error) return false;
    std::lock_guard<std::mutex> guard(cacheLock);
    for (const FileLabels& f : cache)
        if (f.path == path && f.time == time && f.size == size) {
            *labels = f.labels;
            return true;
        }
    std::string text;
    if (!readFile(path, &text)) return false;
    *labels = Scanner(text.data(), text.size()).labels();
    if (cache.size() >= 16) cache.erase(cache.begin());
    cache.push_back(FileLabels{path, time, size, *labels});
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

bool labelStandsInAGroup(const char* name) {
    std::vector<Label> labels;
    if (tRunningSource && tRunningSource->strptr)
        labels = Scanner(tRunningSource->strptr, tRunningSource->strlength).labels();
    else if (!labelsOfProgramFile(&labels))
        return false; // a program without a file: nothing to read
    std::string wanted;
    for (const char* p = name; *p; ++p) wanted += upper(*p);
    for (const Label& l : labels)
        if (l.name == wanted) return l.grouped;
    return false;
}

} // namespace quillmark
