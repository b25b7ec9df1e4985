// The user guide stays true to the program: every text the program can show is in one of
// the guide's message tables, every picture, page and section the guide links to exists,
// and its contents list names every section. The texts are read from the headers' source,
// so a message added there and not to the guide fails here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "words/step_texts.h"

namespace {

const std::filesystem::path kSource = VARNELL_SOURCE_DIR;

std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A text the program shows, as the pieces between which something is filled in at run time
// (a printf conversion, a macro such as the version, a line break).
struct ShownText {
  std::string name;
  std::vector<std::string> pieces;
};

// Not messages: the browse button's face and the help that --help prints whole (the manual
// page carries it).
const std::set<std::string> kNotMessages = {"kBrowseCaption", "kSynopsis", "kHelp"};

void EndPiece(std::vector<std::string>& pieces) {
  if (pieces.empty() || !pieces.back().empty()) pieces.emplace_back();
}

// Appends a string literal's text (from after its opening quote) to the pieces; returns the
// position after its closing quote.
size_t ReadLiteral(const std::string& source, size_t at, std::vector<std::string>& pieces) {
  while (at < source.size() && source[at] != '"') {
    char c = source[at++];
    if (c == '\\') {
      const char escaped = source[at++];
      c = escaped == 'n' ? '\n' : escaped == 'r' ? '\r' : escaped == 't' ? '\t' : escaped;
    }
    if (c == '%' && at < source.size() && source[at] == '%') {
      pieces.back() += '%';
      ++at;
    } else if (c == '%') {
      // A printf conversion: flags, width, precision, length, then its letter.
      while (at < source.size() && std::string("-+ #0123456789.hlzjt").find(source[at]) != std::string::npos) ++at;
      ++at;
      EndPiece(pieces);
    } else {
      pieces.back() += c;
    }
  }
  return at + 1;
}

// The char array constants of one header, with their texts cut into pieces.
std::vector<ShownText> ShownTexts(const std::filesystem::path& header) {
  const std::string source = ReadText(header);
  const std::string marker = "constexpr char ";
  std::vector<ShownText> texts;
  for (size_t at = source.find(marker); at != std::string::npos; at = source.find(marker, at)) {
    at += marker.size();
    const size_t bracket = source.find("[]", at);
    ShownText text{source.substr(at, bracket - at), {std::string()}};
    at = source.find('=', bracket) + 1;
    // String literals and whatever stands between them (a macro), up to the semicolon.
    bool between = false;
    while (at < source.size() && source[at] != ';') {
      const char c = source[at];
      if (c == '"') {
        if (between) EndPiece(text.pieces);
        between = false;
        at = ReadLiteral(source, at + 1, text.pieces);
      } else {
        if (c != ' ' && c != '\n') between = true;
        ++at;
      }
    }
    if (between) EndPiece(text.pieces);
    // Line breaks, returns to the line's start and spaces at the ends are layout, not text;
    // an empty last piece stays and says that a value ends the text. A line break inside is
    // where a table row has a space.
    const char* const kLayout = " \r\n";
    std::string& first = text.pieces.front();
    first.erase(0, first.find_first_not_of(kLayout) == std::string::npos ? first.size() : first.find_first_not_of(kLayout));
    std::string& last = text.pieces.back();
    last.erase(last.find_last_not_of(kLayout) + 1);
    std::vector<std::string> lines;
    for (const std::string& piece : text.pieces) {
      std::istringstream split(piece);
      size_t before = lines.size();
      for (std::string line; std::getline(split, line);) lines.push_back(line);
      if (lines.size() == before) lines.emplace_back();
    }
    text.pieces = lines;
    if (kNotMessages.count(text.name) == 0) texts.push_back(text);
  }
  return texts;
}

// Whether the pieces occur in the line in order, with something between two pieces that a
// value was filled in between (the guide writes a placeholder there).
bool Matches(const std::string& line, const std::vector<std::string>& pieces, size_t piece = 0, size_t from = 0) {
  if (piece == pieces.size()) return true;
  const size_t gap = piece == 0 ? 0 : 1;
  for (size_t at = line.find(pieces[piece], from + gap); at != std::string::npos;
       at = line.find(pieces[piece], at + 1)) {
    if (Matches(line, pieces, piece + 1, at + pieces[piece].size())) return true;
  }
  return false;
}

std::vector<std::string> TableRows(const std::string& markdown) {
  std::vector<std::string> rows;
  std::istringstream lines(markdown);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("|", 0) == 0) rows.push_back(line);
  }
  return rows;
}

bool InSomeRow(const std::vector<std::string>& rows, const ShownText& text) {
  for (const std::string& row : rows) {
    if (Matches(row, text.pieces)) return true;
  }
  return false;
}

const std::string& Guide() {
  static const std::string guide = ReadText(kSource / "docs" / "guide.ru.md");
  return guide;
}

class GuideMessagesTest : public ::testing::TestWithParam<const char*> {};

TEST_P(GuideMessagesTest, EveryTextOfTheHeaderIsInAMessageTable) {
  const std::vector<ShownText> texts = ShownTexts(kSource / GetParam());
  // A header read as empty would pass everything.
  ASSERT_GE(texts.size(), 3u) << GetParam();
  const std::vector<std::string> rows = TableRows(Guide());
  for (const ShownText& text : texts) {
    std::string shown;
    for (const std::string& piece : text.pieces) shown += (shown.empty() ? "" : "…") + piece;
    EXPECT_TRUE(InSomeRow(rows, text)) << text.name << " (\"" << shown << "\") of " << GetParam()
                                      << " is not in a table of docs/guide.ru.md";
  }
}

INSTANTIATE_TEST_SUITE_P(Headers, GuideMessagesTest,
                         ::testing::Values("words/step_texts.h", "words/entry_texts.h", "ui/texts.h", "cli/texts.h"));

// The words for every step an operation can stop at, as the programs show them.
TEST(GuideStepsTest, EveryStepsMessageIsInAMessageTable) {
  const std::vector<std::string> rows = TableRows(Guide());
  for (int step = 0; step <= static_cast<int>(kLastStep); ++step) {
    const std::string message = StepMessage(static_cast<Step>(step));
    EXPECT_FALSE(message.empty()) << "step " << step;
    EXPECT_TRUE(InSomeRow(rows, ShownText{"", {message}})) << message << " is not in a table of docs/guide.ru.md";
  }
}

// The matching itself: a text with values filled in is found only with all its pieces, in
// order; a text that is missing or changed is not.
TEST(GuideMessagesTest, FindsTextsWithTheirPlaceholdersAndNothingElse) {
  const std::vector<std::string> rows = {
      "| Не удалось открыть битый файл. | шаг 1 | — |",
      "| Записан контрольный файл: *путь*, размер в байтах: *число* | | |",
      "| varnell-cli *ВЕРСИЯ* | | |",
  };
  struct Case {
    std::vector<std::string> pieces;
    bool found;
  } cases[] = {
      {{"Не удалось открыть битый файл."}, true},
      {{"Не удалось открыть валидный файл."}, false},
      {{"Записан контрольный файл: ", ", размер в байтах: "}, true},
      {{"Записан ремонтный файл: ", ", размер в байтах: "}, false},
      {{"размер в байтах: ", "Записан контрольный файл: "}, false},  // out of order
      {{"varnell-cli ", ""}, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(InSomeRow(rows, ShownText{"", c.pieces}), c.found) << c.pieces[0];
  }
}

// How the headers' texts are cut: at conversions, at macros between literals, at line
// breaks inside; the line break at the end dropped.
TEST(GuideMessagesTest, CutsTheHeadersTextsWhereValuesGo) {
  const std::filesystem::path header = std::filesystem::temp_directory_path() / "varnell-guide-test-texts.h";
  std::ofstream(header) << "inline constexpr char kA[] = \"Записан: %s, байт: %u\\n\";\n"
                           "inline constexpr char kB[] =\n    \"prog \" VERSION \"\\n\";\n"
                           "inline constexpr char kC[] = \"100%% \" \"две\\nстроки\";\n"
                           "inline constexpr char kD[] = \"\\r%3u%%  из %.1f \";\n"
                           "inline constexpr char kBrowseCaption[] = \"...\";\n";
  const std::vector<ShownText> texts = ShownTexts(header);
  std::filesystem::remove(header);
  ASSERT_EQ(texts.size(), 4u);
  EXPECT_EQ(texts[0].pieces, (std::vector<std::string>{"Записан: ", ", байт: ", ""}));
  EXPECT_EQ(texts[1].pieces, (std::vector<std::string>{"prog ", ""}));
  EXPECT_EQ(texts[2].pieces, (std::vector<std::string>{"100% две", "строки"}));
  // A line redrawn in place: the return to its start is no text, the value before "%" is.
  EXPECT_EQ(texts[3].pieces, (std::vector<std::string>{"", "%  из ", ""}));
}

// The targets of the Markdown links that start with opener ("![" for pictures, "[" for all).
std::vector<std::string> LinkTargets(const std::string& markdown, const std::string& opener) {
  std::vector<std::string> targets;
  for (size_t at = markdown.find(opener); at != std::string::npos; at = markdown.find(opener, at + 1)) {
    const size_t close = markdown.find("](", at);
    const size_t end = close == std::string::npos ? close : markdown.find(')', close);
    if (end == std::string::npos) break;
    // A bracket that closes on another line is text, not a link.
    if (markdown.find('\n', at) < close) continue;
    targets.push_back(markdown.substr(close + 2, end - close - 2));
  }
  return targets;
}

// A heading's anchor as pandoc makes it for the guide's page: lower case, only letters,
// digits, "_", "-" and "." kept, the words joined by hyphens, nothing before the first
// letter. Letters are the Latin and Cyrillic ones the guide's headings use.
std::string Anchor(const std::string& heading) {
  std::string words;
  for (size_t at = 0; at < heading.size();) {
    const unsigned char c = static_cast<unsigned char>(heading[at]);
    if ((c == 0xD0 || c == 0xD1) && at + 1 < heading.size()) {
      unsigned letter = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(heading[at + 1]) & 0x3Fu);
      if (letter >= 0x410 && letter <= 0x42F) letter += 0x20;       // А to Я
      if (letter >= 0x400 && letter <= 0x40F) letter += 0x50;       // Ё and the like
      words += static_cast<char>(0xC0 | (letter >> 6));
      words += static_cast<char>(0x80 | (letter & 0x3F));
    } else if (std::isalnum(c) || c == '_' || c == '-' || c == '.') {
      words += static_cast<char>(std::tolower(c));
    } else if (c == ' ') {
      if (!words.empty() && words.back() != ' ') words += ' ';
    }
    at += c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;  // other signs dropped
  }
  while (!words.empty() && static_cast<unsigned char>(words[0]) < 0x80 && !std::isalpha(words[0])) words.erase(0, 1);
  while (!words.empty() && words.back() == ' ') words.pop_back();
  std::replace(words.begin(), words.end(), ' ', '-');
  return words;
}

struct Heading {
  size_t level;
  std::string anchor;
};

std::vector<Heading> Headings(const std::string& markdown) {
  std::vector<Heading> headings;
  std::istringstream lines(markdown);
  for (std::string line; std::getline(lines, line);) {
    const size_t level = line.find_first_not_of('#');
    if (level > 0 && level != std::string::npos && line[level] == ' ') headings.push_back({level, Anchor(line.substr(level + 1))});
  }
  return headings;
}

bool IsHeading(const std::string& anchor) {
  for (const Heading& heading : Headings(Guide())) {
    if (heading.anchor == anchor) return true;
  }
  return false;
}

// Every picture and every page the guide links to, relative to docs/, and every heading a
// link in the guide names.
TEST(GuideLinksTest, EveryPictureAndLocalLinkResolves) {
  const std::vector<std::string> pictures = LinkTargets(Guide(), "![");
  EXPECT_GE(pictures.size(), 3u) << "each of the three steps has its screenshot";
  // A picture whose link is broken across lines or by a space is no picture on the page.
  size_t pictureOpeners = 0;
  for (size_t at = Guide().find("!["); at != std::string::npos; at = Guide().find("![", at + 1)) ++pictureOpeners;
  EXPECT_EQ(pictures.size(), pictureOpeners) << "a picture's link is not whole on its line";
  for (const std::string& target : LinkTargets(Guide(), "[")) {
    if (target.find("://") != std::string::npos) continue;
    if (target.rfind("#", 0) == 0) {
      EXPECT_TRUE(IsHeading(target.substr(1))) << target << " names no heading";
    } else {
      EXPECT_TRUE(std::filesystem::is_regular_file(kSource / "docs" / target)) << target;
    }
  }
  for (const std::string& target : pictures) EXPECT_EQ(target.rfind("screenshots/", 0), 0u) << target;
}

// The contents list at the top names every section and subsection, and only those.
TEST(GuideLinksTest, TheContentsListHasAnEntryForEveryHeading) {
  const std::string& guide = Guide();
  const size_t from = guide.find("\n## Содержание\n");
  ASSERT_NE(from, std::string::npos) << "no contents list";
  const size_t to = guide.find("\n#", from + 1);
  std::set<std::string> entries;
  for (const std::string& target : LinkTargets(guide.substr(from, to - from), "[")) entries.insert(target.substr(1));
  size_t listed = 0;
  for (const Heading& heading : Headings(guide)) {
    if (heading.level < 2 || heading.level > 3 || heading.anchor == Anchor("Содержание")) continue;
    ++listed;
    EXPECT_EQ(entries.erase(heading.anchor), 1u) << heading.anchor << " is missing from the contents";
  }
  EXPECT_GE(listed, 10u);
  for (const std::string& entry : entries) ADD_FAILURE() << "#" << entry << " in the contents names no section";
}

}  // namespace
