// The user guide stays true to the program, in each language it is written in: every text the
// program can show in that language is in one of the message tables of the guide or its
// reference page, every picture, page and section they link to exists, each contents list
// names every section, the guide's first page stays short, and the manual page names the exit
// statuses the program has, each for what it means. The texts are read from the sources, so a
// message or a status added there and not to the docs fails here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <regex>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
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

// The Russian table, whose texts the guide explains, and its groups of messages; the window's
// words (labels, buttons) and the steps' (GuideStepsTest) are not read from it.
const char kRussianTable[] = "words/russian.cpp";
// Not messages: the help that --help prints whole, and each command's (the manual page
// carries them).
const std::set<std::string> kNotMessages = {"synopsis", "help", "scanBrokenHelp", "scanValidHelp", "repairHelp",
                                            "verifyHelp"};

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

// A text's pieces as the guide shows them: line breaks, returns to the line's start and spaces at
// the ends are layout, not text; an empty last piece stays and says that a value ends the text.
// A line break inside is where a table row has a space.
void LayOut(ShownText& text) {
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
}

// The texts of one group of a table (".group = { .name = "…" "…", … }"), each cut into pieces.
std::vector<ShownText> ShownTexts(const std::string& source, const std::string& group) {
  std::vector<ShownText> texts;
  size_t at = source.find("." + group + " =");
  if (at == std::string::npos) return texts;
  at = source.find('{', at) + 1;
  for (;;) {
    at = source.find_first_not_of(" \n", at);
    if (at == std::string::npos || source[at] == '}') break;
    if (source.compare(at, 2, "//") == 0) {
      at = source.find('\n', at);
      continue;
    }
    // ".name =", then string literals and whatever stands between them (a macro), up to the comma.
    const size_t equals = source.find(" =", at);
    ShownText text{source.substr(at + 1, equals - at - 1), {std::string()}};
    at = equals + 2;
    bool between = false;
    while (at < source.size() && source[at] != ',') {
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
    ++at;
    if (between) EndPiece(text.pieces);
    LayOut(text);
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

// A language the guide is written in: the table whose texts it explains (the window's words,
// labels and buttons, are not read from it; the steps' are taken from the table itself), and its
// pages under docs/: the first page, which gets a person through a repair, and the reference
// behind it, with the message tables.
struct GuideLanguage {
  const char* name;
  const char* table;
  const Words* words;
  const char* firstPage;
  const char* reference;
  const char* contents;  // the heading of each page's contents list
};

void PrintTo(const GuideLanguage& language, std::ostream* out) { *out << language.name; }

const GuideLanguage kGuideLanguages[] = {
    {"ru", "words/russian.cpp", &kRussian, "guide.ru.md", "guide-reference.ru.md", "Содержание"},
    {"en", "words/english.cpp", &kEnglish, "guide.en.md", "guide-reference.en.md", "Contents"},
};

const std::string& Page(const std::string& name) {
  static std::map<std::string, std::string> pages;
  auto found = pages.find(name);
  if (found == pages.end()) found = pages.emplace(name, ReadText(kSource / "docs" / name)).first;
  return found->second;
}

std::vector<std::string> GuidePages() {
  std::vector<std::string> pages;
  for (const GuideLanguage& language : kGuideLanguages) {
    pages.push_back(language.firstPage);
    pages.push_back(language.reference);
  }
  return pages;
}

const GuideLanguage& LanguageOf(const std::string& page) {
  for (const GuideLanguage& language : kGuideLanguages) {
    if (page == language.firstPage || page == language.reference) return language;
  }
  ADD_FAILURE() << page << " is no page of the guide";
  return kGuideLanguages[0];
}

// The rows of every table on the language's pages.
std::vector<std::string> GuideRows(const GuideLanguage& language) {
  std::vector<std::string> rows;
  for (const char* page : {language.firstPage, language.reference}) {
    const std::vector<std::string> own = TableRows(Page(page));
    EXPECT_FALSE(Page(page).empty()) << "docs/" << page << " is missing or empty";
    rows.insert(rows.end(), own.begin(), own.end());
  }
  return rows;
}

std::string LanguageName(const ::testing::TestParamInfo<GuideLanguage>& info) { return info.param.name; }

class GuideMessagesTest : public ::testing::TestWithParam<std::tuple<GuideLanguage, const char*>> {};

TEST_P(GuideMessagesTest, EveryTextOfTheGroupIsInAMessageTable) {
  const auto& [language, group] = GetParam();
  const std::vector<ShownText> texts = ShownTexts(ReadText(kSource / language.table), group);
  // A group read as empty would pass everything.
  ASSERT_GE(texts.size(), 3u) << language.table << ", " << group;
  const std::vector<std::string> rows = GuideRows(language);
  for (const ShownText& text : texts) {
    std::string shown;
    for (const std::string& piece : text.pieces) shown += (shown.empty() ? "" : "…") + piece;
    EXPECT_TRUE(InSomeRow(rows, text)) << text.name << " (\"" << shown << "\") of " << group << " in " << language.table
                                      << " is not in a table of the guide's pages";
  }
}

INSTANTIATE_TEST_SUITE_P(Groups, GuideMessagesTest,
                         ::testing::Combine(::testing::ValuesIn(kGuideLanguages),
                                            ::testing::Values("dialog", "shared", "entries", "cli")),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param);
                         });

class GuideStepsTest : public ::testing::TestWithParam<GuideLanguage> {};

// The words for every step an operation can stop at, as the programs show them.
TEST_P(GuideStepsTest, EveryStepsMessageIsInAMessageTable) {
  const std::vector<std::string> rows = GuideRows(GetParam());
  for (int step = 0; step <= static_cast<int>(kLastStep); ++step) {
    const std::string message = StepMessage(static_cast<Step>(step), *GetParam().words);
    EXPECT_FALSE(message.empty()) << "step " << step;
    EXPECT_TRUE(InSomeRow(rows, ShownText{"", {message}})) << message << " is not in a table of the guide's pages";
  }
}

INSTANTIATE_TEST_SUITE_P(Languages, GuideStepsTest, ::testing::ValuesIn(kGuideLanguages), LanguageName);

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

// How the table's texts are cut: at conversions, at macros between literals, at line breaks
// inside; the line break at the end dropped; only the group asked for, and no help.
TEST(GuideMessagesTest, CutsTheTablesTextsWhereValuesGo) {
  const std::string table =
      "    .window =\n        {\n            .start = \"Старт\",\n        },\n"
      "    .cli =\n        {\n"
      "            .a = \"Записан: %s, байт: %u\\n\",\n"
      "            // a comment\n"
      "            .b =\n                \"prog \" VERSION \"\\n\",\n"
      "            .c = \"100%% \" \"две\\nстроки\",\n"
      "            .d = \"\\r%3u%%  из %.1f \",\n"
      "            .help = \"...\",\n"
      "        },\n";
  const std::vector<ShownText> texts = ShownTexts(table, "cli");
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

// The headings of a page; pandoc takes a line for a heading only after an empty line, and
// one that is not is reported as text the page's links cannot reach.
std::vector<Heading> Headings(const std::string& markdown) {
  std::vector<Heading> headings;
  std::istringstream lines(markdown);
  std::string before;
  for (std::string line; std::getline(lines, line); before = line) {
    const size_t level = line.find_first_not_of('#');
    if (level == 0 || level == std::string::npos || line[level] != ' ') continue;
    if (before.empty()) {
      headings.push_back({level, Anchor(line.substr(level + 1))});
    } else {
      ADD_FAILURE() << "no empty line before the heading " << line;
    }
  }
  return headings;
}

bool IsHeading(const std::string& markdown, const std::string& anchor) {
  for (const Heading& heading : Headings(markdown)) {
    if (heading.anchor == anchor) return true;
  }
  return false;
}

class GuidePageTest : public ::testing::TestWithParam<std::string> {};

// Every picture and every page a page of the guide links to, relative to docs/, and every
// heading a link names, on the same page or on the other (the HTML pages keep the anchors).
TEST_P(GuidePageTest, EveryPictureAndLocalLinkResolves) {
  const std::string& page = Page(GetParam());
  const std::vector<std::string> pictures = LinkTargets(page, "![");
  EXPECT_GE(pictures.size(), 3u) << "each page shows the program";
  // A picture whose link is broken across lines or by a space is no picture on the page.
  size_t pictureOpeners = 0;
  for (size_t at = page.find("!["); at != std::string::npos; at = page.find("![", at + 1)) ++pictureOpeners;
  EXPECT_EQ(pictures.size(), pictureOpeners) << "a picture's link is not whole on its line";
  for (const std::string& target : LinkTargets(page, "[")) {
    if (target.find("://") != std::string::npos) continue;
    const size_t hash = target.find('#');
    const std::string file = target.substr(0, hash);
    if (!file.empty()) {
      EXPECT_TRUE(std::filesystem::is_regular_file(kSource / "docs" / file)) << target;
    }
    if (hash == std::string::npos) continue;
    const std::vector<std::string> guidePages = GuidePages();
    const bool toAGuidePage = file.empty() || std::find(guidePages.begin(), guidePages.end(), file) != guidePages.end();
    EXPECT_TRUE(toAGuidePage) << target << ": only the guide's pages are linked to a section";
    if (toAGuidePage) {
      EXPECT_TRUE(IsHeading(file.empty() ? page : Page(file), target.substr(hash + 1))) << target << " names no heading";
    }
  }
  // The program as it is, in screenshots; drawings apart, in pictures/.
  for (const std::string& target : pictures) {
    EXPECT_TRUE(target.rfind("screenshots/", 0) == 0 || target.rfind("pictures/", 0) == 0) << target;
  }
}

// The contents list at the top names every section and subsection, and only those.
TEST_P(GuidePageTest, TheContentsListHasAnEntryForEveryHeading) {
  const std::string& page = Page(GetParam());
  const std::string contents = LanguageOf(GetParam()).contents;
  const size_t from = page.find("\n## " + contents + "\n");
  ASSERT_NE(from, std::string::npos) << "no contents list";
  const size_t to = page.find("\n#", from + 1);
  std::set<std::string> entries;
  for (const std::string& target : LinkTargets(page.substr(from, to - from), "[")) entries.insert(target.substr(1));
  size_t listed = 0;
  for (const Heading& heading : Headings(page)) {
    if (heading.level < 2 || heading.level > 3 || heading.anchor == Anchor(contents)) continue;
    ++listed;
    EXPECT_EQ(entries.erase(heading.anchor), 1u) << heading.anchor << " is missing from the contents";
  }
  EXPECT_GE(listed, 10u);
  for (const std::string& entry : entries) ADD_FAILURE() << "#" << entry << " in the contents names no section";
}

INSTANTIATE_TEST_SUITE_P(Pages, GuidePageTest, ::testing::ValuesIn(GuidePages()));

class GuideSizeTest : public ::testing::TestWithParam<GuideLanguage> {};

// The first page is what a person reads through; everything to look up goes to the reference.
TEST_P(GuideSizeTest, TheFirstPageStaysShort) {
  const std::string& guide = Page(GetParam().firstPage);
  EXPECT_GT(guide.size(), 10000u) << GetParam().firstPage << " read as almost empty";
  EXPECT_LE(guide.size(), 40000u) << GetParam().firstPage << ": move what is looked up rather than read to the reference";
}

INSTANTIATE_TEST_SUITE_P(Languages, GuideSizeTest, ::testing::ValuesIn(kGuideLanguages), LanguageName);

// The exit statuses varnell-cli has, by the names cli/commands.h gives them.
std::map<std::string, int> ProgramExitStatuses() {
  const std::string source = ReadText(kSource / "cli" / "commands.h");
  const std::regex constant(R"(constexpr int (kExit\w+) = (\d+);)");
  std::map<std::string, int> statuses;
  for (auto match = std::sregex_iterator(source.begin(), source.end(), constant); match != std::sregex_iterator(); ++match) {
    statuses[(*match)[1]] = std::stoi((*match)[2]);
  }
  return statuses;
}

// The words a sentence that names a status must speak of it with (any one of them, as a
// stem), by the status's name. A status the program gains needs its words here.
const std::map<std::string, std::vector<std::string>> kStatusWords = {
    {"kExitDone", {"Готово", "готово", "совпал", "совпада"}},
    {"kExitStopped", {"останов", "прерва", "отверга", "Отверга"}},
    {"kExitUsage", {"вызов"}},
    {"kExitIdentical", {"идентичн", "одинаков", "контрольные суммы"}},
    {"kExitCheckRefused", {"проверка не пройдена", "--check"}},
    {"kExitDiffers", {"отлич", "не совпал"}},
    {"kExitSkipped", {"пропущ", "пропуска"}},
    {"kExitNotDurable", {"сбросить на диск"}},
    {"kExitNoFingerprint", {"нет отпечатка"}},
    {"kExitOtherFile", {"другого файла", "не тот", "изменился", "прежнего обмена", "прежнего круга"}},
    {"kExitMoreNeeded", {"побольше"}},
};
// The same for the English pages.
const std::map<std::string, std::vector<std::string>> kEnglishStatusWords = {
    {"kExitDone", {"Done", "done", "matches"}},
    {"kExitStopped", {"stopped", "interrupted", "refused"}},
    {"kExitUsage", {"usage"}},
    {"kExitIdentical", {"identical", "checksum"}},
    {"kExitCheckRefused", {"check failed", "--check"}},
    {"kExitDiffers", {"differ"}},
    {"kExitSkipped", {"skipped"}},
    {"kExitNotDurable", {"flushed"}},
    {"kExitNoFingerprint", {"no fingerprint"}},
    {"kExitOtherFile", {"another file", "has changed", "earlier exchange"}},
    {"kExitMoreNeeded", {"larger test file"}},
};

bool SpeaksOf(const std::string& text, const std::string& status, const std::string& language = "ru") {
  const auto& table = language == "en" ? kEnglishStatusWords : kStatusWords;
  const auto words = table.find(status);
  if (words == table.end()) return false;
  for (const std::string& word : words->second) {
    if (text.find(word) != std::string::npos) return true;
  }
  return false;
}

bool IsCyrillicLetterAt(const std::string& text, size_t at) {
  return at + 1 < text.size() && (static_cast<unsigned char>(text[at]) == 0xD0 || static_cast<unsigned char>(text[at]) == 0xD1);
}

// The statuses a sentence names: "код 5", "с кодом 5", "код завершения 3", "код завершения
// тогда 6", and the ones listed on after such a name ("код 0, если …, 8, если …"); in English,
// "status 5" and "exit status 5", and the ones listed on ("exit status 0 if …, 5 if …").
std::vector<int> StatusesNamed(const std::string& sentence, const std::string& language = "ru") {
  std::vector<int> named;
  if (language == "en") {
    const std::regex status("(?:^|[^A-Za-z])status (\\d+)");
    for (auto match = std::sregex_iterator(sentence.begin(), sentence.end(), status); match != std::sregex_iterator(); ++match) {
      named.push_back(std::stoi((*match)[1]));
    }
    if (named.empty()) return named;
    const std::regex listedOn(", (\\d+) if");
    for (auto match = std::sregex_iterator(sentence.begin(), sentence.end(), listedOn); match != std::sregex_iterator(); ++match) {
      named.push_back(std::stoi((*match)[1]));
    }
    return named;
  }
  const std::string word = "код";
  for (size_t at = sentence.find(word); at != std::string::npos; at = sentence.find(word, at + 1)) {
    if (at >= 2 && IsCyrillicLetterAt(sentence, at - 2)) continue;  // inside another word
    size_t next = at + word.size();
    while (IsCyrillicLetterAt(sentence, next)) next += 2;          // кода, кодом
    for (const std::string filler : {" завершения", " тогда"}) {
      if (sentence.compare(next, filler.size(), filler) == 0) next += filler.size();
    }
    if (next + 1 < sentence.size() && sentence[next] == ' ' && std::isdigit(static_cast<unsigned char>(sentence[next + 1]))) {
      named.push_back(std::stoi(sentence.substr(next + 1)));
    }
  }
  if (named.empty()) return named;
  const std::regex listedOn(", (\\d+), если");
  for (auto match = std::sregex_iterator(sentence.begin(), sentence.end(), listedOn); match != std::sregex_iterator(); ++match) {
    named.push_back(std::stoi((*match)[1]));
  }
  return named;
}

// A manual page as its paragraphs of plain text, each with the section it stands in; the
// examples are left out.
struct ManParagraph {
  std::string section;
  std::string text;
};

std::vector<ManParagraph> ManParagraphs(const std::string& page) {
  std::vector<ManParagraph> paragraphs(1);
  std::istringstream lines(page);
  bool example = false;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(".\\\"", 0) == 0) continue;
    if (line.rfind(".", 0) == 0) {
      const std::string macro = line.substr(1, line.find(' ') == std::string::npos ? std::string::npos : line.find(' ') - 1);
      std::string arguments = line.find(' ') == std::string::npos ? "" : line.substr(line.find(' ') + 1);
      arguments.erase(std::remove(arguments.begin(), arguments.end(), '"'), arguments.end());
      if (macro == "EX") example = true;
      if (macro == "EE") example = false;
      if (macro == "SH" || macro == "SS" || macro == "TP" || macro == "PP" || macro == "IP" || macro == "EX" || macro == "SY") {
        paragraphs.push_back({macro == "SH" ? arguments : paragraphs.back().section, ""});
        continue;
      }
      line = arguments;
    }
    if (example) continue;
    for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
             {"\\-", "-"}, {"\\(em", "—"}, {"\\fI", ""}, {"\\fB", ""}, {"\\fP", ""}, {"\\fR", ""}, {"\\&", ""}}) {
      for (size_t at = line.find(from); at != std::string::npos; at = line.find(from, at + to.size())) line.replace(at, from.size(), to);
    }
    paragraphs.back().text += (paragraphs.back().text.empty() ? "" : " ") + line;
  }
  return paragraphs;
}

std::vector<std::string> Sentences(const std::string& text) {
  std::vector<std::string> sentences(1);
  for (size_t at = 0; at < text.size(); ++at) {
    sentences.back() += text[at];
    if (text[at] == '.' && (at + 1 == text.size() || text[at + 1] == ' ')) sentences.emplace_back();
  }
  return sentences;
}

std::string StatusName(const std::map<std::string, int>& statuses, int status) {
  for (const auto& [name, value] : statuses) {
    if (value == status) return name;
  }
  return "";
}

// The manual page's list of exit statuses is the program's, each entry speaks of what its
// status means, and every status the page names elsewhere is named in a sentence that speaks
// of it (a skipped entry is 6, not the 5 of a result that differs).
TEST(GuideExitStatusTest, TheManualPageNamesTheProgramsStatusesForWhatTheyMean) {
  const std::map<std::string, int> statuses = ProgramExitStatuses();
  ASSERT_GE(statuses.size(), 9u) << "cli/commands.h read as without its exit statuses";
  for (const auto& [name, value] : statuses) EXPECT_EQ(kStatusWords.count(name), 1u) << name << " has no words in this test";

  std::set<int> listed;
  size_t sentencesNaming = 0;
  for (const ManParagraph& paragraph : ManParagraphs(ReadText(kSource / "docs" / "varnell-cli.1"))) {
    if (paragraph.section == "КОДЫ ЗАВЕРШЕНИЯ") {
      if (paragraph.text.empty()) continue;
      const int status = std::isdigit(static_cast<unsigned char>(paragraph.text[0])) ? std::stoi(paragraph.text) : -1;
      const std::string name = StatusName(statuses, status);
      EXPECT_FALSE(name.empty()) << "the manual page lists exit status " << status << ", which the program does not have";
      EXPECT_TRUE(SpeaksOf(paragraph.text, name)) << "exit status " << status << " (" << name << ") listed as: " << paragraph.text;
      listed.insert(status);
      continue;
    }
    for (const std::string& sentence : Sentences(paragraph.text)) {
      for (const int status : StatusesNamed(sentence)) {
        ++sentencesNaming;
        const std::string name = StatusName(statuses, status);
        EXPECT_FALSE(name.empty()) << "exit status " << status << ", which the program does not have: " << sentence;
        EXPECT_TRUE(SpeaksOf(sentence, name)) << "exit status " << status << " (" << name << ") named in: " << sentence;
      }
    }
  }
  std::set<int> program;
  for (const auto& [name, value] : statuses) program.insert(value);
  EXPECT_EQ(listed, program) << "the manual page's list of exit statuses is not the program's";
  EXPECT_GE(sentencesNaming, 5u) << "the statuses named in the manual page's text were not found";
}

class GuideStatusTest : public ::testing::TestWithParam<GuideLanguage> {};

// The guide's pages: their table of exit statuses is the program's, each row speaks of its
// status, and every status they name in passing is one the program has.
TEST_P(GuideStatusTest, TheGuideNamesOnlyTheProgramsStatuses) {
  const std::string language = GetParam().name;
  const std::map<std::string, int> statuses = ProgramExitStatuses();
  std::set<int> listed;
  const std::regex row(R"(^\| (\d+) \| (.*) \|$)");
  size_t named = 0;
  for (const std::string& line : GuideRows(GetParam())) {
    std::smatch match;
    if (std::regex_match(line, match, row)) {
      const int status = std::stoi(match[1]);
      const std::string name = StatusName(statuses, status);
      EXPECT_FALSE(name.empty()) << "the guide lists exit status " << status << ", which the program does not have";
      EXPECT_TRUE(SpeaksOf(match[2], name, language)) << "exit status " << status << " (" << name << ") listed as: " << match[2];
      listed.insert(status);
    }
    for (const int status : StatusesNamed(line, language)) {
      ++named;
      EXPECT_FALSE(StatusName(statuses, status).empty()) << "exit status " << status << ", which the program does not have: " << line;
    }
  }
  std::set<int> program;
  for (const auto& [name, value] : statuses) program.insert(value);
  EXPECT_EQ(listed, program) << "the guide's table of exit statuses is not the program's";
  EXPECT_GE(named, 5u);
}

INSTANTIATE_TEST_SUITE_P(Languages, GuideStatusTest, ::testing::ValuesIn(kGuideLanguages), LanguageName);

// How statuses are found in a sentence, and what the check makes of the two mistakes the
// manual page once had.
TEST(GuideExitStatusTest, FindsTheStatusesASentenceNames) {
  EXPECT_EQ(StatusesNamed("а код завершения тогда 6."), (std::vector<int>{6}));
  EXPECT_EQ(StatusesNamed("завершается с кодом 5 и пишет"), (std::vector<int>{5}));
  EXPECT_EQ(StatusesNamed("код 0, если файл совпадает, 5, если нет, 8, если нет отпечатка."), (std::vector<int>{0, 5, 8}));
  EXPECT_EQ(StatusesNamed("раскодировать 5 байт; 1, 2, если"), (std::vector<int>{}));
  EXPECT_FALSE(SpeaksOf("каждый пропущенный файл выводится в поток ошибок, а код завершения тогда 5.", "kExitDiffers"));
  EXPECT_FALSE(SpeaksOf("код 0, если файл совпадает с валидным, 6, если в ремонтном файле нет отпечатка.", "kExitSkipped"));
  EXPECT_EQ(StatusesNamed("ends with exit status 5 and writes", "en"), (std::vector<int>{5}));
  EXPECT_EQ(StatusesNamed("exit status 0 if the file matches, 5 if not, 8 if there is no fingerprint.", "en"),
            (std::vector<int>{0, 5, 8}));
  EXPECT_EQ(StatusesNamed("the status bar shows 42%; 1, 2 if", "en"), (std::vector<int>{}));
  EXPECT_FALSE(SpeaksOf("each skipped file is named on stderr, and the exit status is then 5.", "kExitDiffers", "en"));
}

}  // namespace
