// Every text both programs show, as one table per language: Words has a member per text, and
// each language is one constant instance of it, in a file of its own (words/russian.cpp, the
// dialog's own Russian texts; words/english.cpp). The programs choose a table once, at start:
// the dialog and varnell-cli.exe by the Windows display language, varnell-cli by the POSIX
// locale, and say everything through CurrentWords().
//
// A table that leaves a text out does not build: a Phrase has no default, so the designated
// initializer of a table without one of the members is an error (at the table's closing
// brace; the members go in the order of the struct). A step's words are a member of
// StepWords each, reached through the one switch in words/step_texts.cpp, which the build
// makes exhaustive (-Werror=switch): a new Step needs its member, and every table its text.
//
// A new text: a member below, in the group of its program, and its text in every table.
// A third language: a file words/LANGUAGE.cpp with a constant Words (copy english.cpp and
// translate each text; its LanguageCodes name the language for both systems), declared below
// beside kRussian and kEnglish, listed in words/CMakeLists.txt and in kLanguages in
// words/words.cpp. The tests that go through the
// tables (the formats, the label widths) take it from EveryLanguage().
//
// Texts are UTF-8. Formats take printf arguments as the comment of their member says.
#pragma once

#include <span>
#include <string>

#include "core/outcome.h"

// One text of a table: made from a string literal at compile time, read as a const char*.
class Phrase {
 public:
  consteval Phrase(const char* text) : text_(text) {}
  constexpr operator const char*() const { return text_; }
  constexpr const char* c_str() const { return text_; }

 private:
  const char* text_;
};

// A Phrase joins and compares with a std::string as its literal would.
inline std::string operator+(const std::string& left, Phrase right) { return left + right.c_str(); }
inline std::string operator+(Phrase left, const std::string& right) { return left.c_str() + right; }
inline bool operator==(const std::string& left, Phrase right) { return left == right.c_str(); }

// Whom a table is for: the language of a POSIX locale's name ("ru" of "ru_RU.UTF-8") and the
// primary language of a Windows display language (PRIMARYLANGID, LANG_RUSSIAN is 0x19).
struct LanguageCodes {
  consteval LanguageCodes(const char* localeLanguage, unsigned short windowsLanguage)
      : locale(localeLanguage), windows(windowsLanguage) {}
  const char* locale;
  unsigned short windows;
};

// The dialog's controls, set from the table when the dialog opens (the template holds the
// Russian ones), and the names of the choosers' filters. Not messages.
struct WindowWords {
  Phrase modeBrokenScan;
  Phrase groupBrokenScan;
  Phrase brokenFile;
  Phrase modeValidScan;
  Phrase groupValidScan;
  Phrase validFile;
  Phrase testFile;
  Phrase modeRepair;
  Phrase groupRepair;
  Phrase repairBrokenFile;
  Phrase repairFile;
  Phrase outputFolder;
  Phrase start;
  Phrase close;
  // The choosers' filters: a name each; the patterns are not words.
  Phrase allFilesFilter;
  Phrase testFilesFilter;
  Phrase repairFilesFilter;
};

// What the dialog says in its own words: the status bar, the boxes it shows, the choosers'
// titles.
struct DialogWords {
  Phrase allocateBrowseRecord;
  Phrase getProcessHeap;
  Phrase fillAllFields;
  Phrase attentionExclaimed;
  Phrase working;
  Phrase ready;
  Phrase modeBrokenScan;
  Phrase modeValidScan;
  Phrase modeRepair;
  Phrase taskDone;
  // Work beside the dialog (files of 4 GiB and more, folders).
  Phrase workingPercent;  // %u: percent done
  Phrase startWorker;
  Phrase askStop;
  Phrase scanStopped;
  Phrase repairStoppedPartly;
  Phrase repairStoppedUntouched;
  // The text of a step's error box, instead of the system's, when a file ended before the
  // size it had when it was measured.
  Phrase fileChangedWhileRead;
  // Instead of the task-done box when the new file is in place but its folder was not
  // flushed; the system's text follows after a blank line.
  Phrase mayNotSurvivePowerCut;
  // A folder's closing box: the lists of what the user must know of its entries.
  Phrase folderExtras;
  Phrase folderSkipped;
  Phrase folderMismatch;
  Phrase folderRepairDiffers;
  // The same when the folder's follow-up was written: the head, then the way on (%s: the
  // follow-up test file), as for a file.
  Phrase folderRepairDiffersHead;
  Phrase folderDiffersNext;
  // Files left because they changed or appeared since the broken folder's scan.
  Phrase folderNotScanned;
  Phrase moreEntries;  // %u: entries not shown
  Phrase folderRepairStoppedPartly;
  Phrase folderRepairStoppedUntouched;
  Phrase refusedName;  // %s: the name
  // A repair whose result still differs: the head, the first few ranges, the rest, why, and
  // the way on.
  Phrase differsHead;   // %u: places
  Phrase differsRange;  // %s, %s: first and last byte
  Phrase differsMore;   // %u: places not shown
  Phrase differsWhy;
  Phrase differsNext;   // %s: the follow-up test file
  Phrase chooseFile;
  Phrase chooseFolder;
};

// The words of outcomes both programs show: the dialog in its boxes, varnell-cli as its lines.
struct SharedWords {
  // The caption of the box of a condition the program found itself; its text is the step's.
  Phrase unforeseen;
  // The caption of the boxes that tell an outcome.
  Phrase attention;
  // After the system's text of a file another program holds open, for a stop and for a
  // folder's entry alike: with the program's name (%s), where the system can tell which, and
  // without.
  Phrase heldBy;
  Phrase heldByAnother;
  // A repair refused before its first write: the broken file is not the one its repair file
  // was made for, or has changed since its test file was made.
  Phrase otherFile;
  // A compact test file that did not decode: the valid-file scan wrote the request for a larger
  // one (%s), and the repair given that request wrote the larger test file (%s).
  Phrase askedForMore;
  Phrase largerTestFile;
  // The same for a folder's compact test file.
  Phrase folderAskedForMore;
  Phrase folderLargerTestFile;
  // Copies whose every checksum agrees: the repair file of no blocks written (%s), which proves
  // them the same or finds what differs.
  Phrase identicalProof;
  // A repair file for a copy that differs in more than a quarter (%u: the percentage): is the
  // valid file the same version? And, after the repair, how much of the file it replaced.
  Phrase differsMuch;
  Phrase replacedShare;
  // A repair whose blocks were all in place already: done, nothing written; or still differing,
  // the repair file applied before.
  Phrase alreadyRepaired;
  Phrase alreadyApplied;
};

// What both programs call each step an operation can stop at (core/outcome.h): a failed
// call's step is the caption of its error box, whose text is the system's; a condition the
// program found itself is the box's text.
struct StepWords {
  Phrase openBroken;
  Phrase sizeBroken;
  Phrase allocateBroken;
  Phrase readBroken;
  Phrase allocateTestFileBuffer;
  Phrase createOutput;
  Phrase writeOutput;
  Phrase openValid;
  Phrase openTest;
  Phrase sizeValid;
  Phrase allocateValid;
  Phrase sizeTest;
  Phrase checkTestFileSize;
  Phrase checkLargeTestFile;
  Phrase allocateTest;
  Phrase readValid;
  Phrase readTest;
  Phrase commitList;
  Phrase openRepair;
  Phrase sizeRepair;
  Phrase commitRepairBuffer;
  Phrase readRepair;
  Phrase checkRepairFile;
  Phrase checkLargeRepairFile;
  Phrase commitBrokenBuffer;
  Phrase writeRepaired;
  Phrase checkTestFileForFolder;
  Phrase checkRepairFileForFolder;
  Phrase openBrokenFolder;
  Phrase openValidFolder;
  Phrase listFolder;
  Phrase allocateListing;
  Phrase checkTestFileForOneFile;
  Phrase checkRepairFileForOneFile;
  Phrase checkFolderTestFile;
  Phrase checkFolderRepairFile;
  Phrase checkRepairFileName;
  Phrase createFolder;
  Phrase renameEntry;
  Phrase removeExtra;
  Phrase allocateFingerprint;
  Phrase checkFingerprint;
  Phrase allocateReadBack;
  Phrase readBack;
  Phrase createFollowUp;
  Phrase writeFollowUp;
  Phrase checkFollowUp;
  Phrase keepFileAttributes;
  Phrase checkFolderFollowUp;
  Phrase checkCompactTestFile;
  Phrase checkAskingRepairFile;
  Phrase checkTestFileBudget;
  Phrase readValidStamp;
  Phrase setFileStamp;
  Phrase brokenIsTestFile;
  Phrase brokenIsRepairFile;
  Phrase validIsTestFile;
  Phrase validIsRepairFile;
  Phrase testIsRepairFile;
  Phrase repairIsTestFile;
  Phrase checkEarlierTestFile;
};

// What happened to the entries of a folder: the events of its scans and its repair (each
// takes the entry's path as %s, in UTF-8, and a number as %llu before it where it has one),
// why an entry was skipped, and why a name was refused.
struct EntryWords {
  Phrase foldersIdentical;
  // Identical folders: the older folder repair file of the output's name (%s), removed.
  Phrase olderAnswerRemoved;
  Phrase damaged;
  Phrase lengthDiffers;
  Phrase missing;
  Phrase folderMissing;
  Phrase caseDiffers;
  Phrase extra;
  Phrase extraFolder;
  Phrase repaired;
  // A file with other names (hard links) repaired in a copy that took its name.
  Phrase repairedThroughCopy;
  Phrase created;
  Phrase folderCreated;
  Phrase renamed;
  Phrase deleted;
  Phrase folderDeleted;
  Phrase mismatch;
  Phrase verified;
  Phrase skipped;
  // Why an entry was skipped: the line after skipped.
  Phrase skipLink;
  Phrase skipNotRegular;
  Phrase skipBadName;
  Phrase skipTooDeep;
  Phrase skipBrokenSide;
  Phrase skipBrokenUnreadable;
  Phrase skipNotPossibleThere;
  Phrase skipNameTaken;
  Phrase skipGone;
  Phrase skipNotEmpty;
  Phrase skipOtherFile;
  Phrase skipNotSeen;
  Phrase skipShortName;
  // After the reason of a new file whose rename another program held up; the temporary's name
  // as %s.
  Phrase kept;
  // The closing line of a folder's scan that read files kept only in the cloud (%llu: how many).
  Phrase fetched;
  // Why a name is refused.
  Phrase nameEmpty;
  Phrase nameAbsolute;
  Phrase nameDot;
  Phrase nameBackslash;
  Phrase nameColon;
  Phrase nameControl;
  Phrase nameNotUtf8;
  Phrase nameForbidden;
  Phrase nameReserved;
  Phrase nameTrailing;
  Phrase nameTooLong;
  Phrase nameCaseClash;
};

// What varnell-cli says in its own words. Lines end with their line break where they have one.
struct CliWords {
  Phrase synopsis;
  Phrase help;
  // COMMAND --help: the command's usage, what it does, its options and exit statuses.
  Phrase scanBrokenHelp;
  Phrase scanValidHelp;
  Phrase repairHelp;
  Phrase verifyHelp;
  Phrase usageProblem;  // %s: the problem
  Phrase moreHelp;
  Phrase noCommand;
  Phrase unknownCommand;    // %s
  Phrase unknownOption;     // %s
  Phrase repeatedOption;    // %s
  Phrase optionNeedsValue;  // %s
  Phrase missingArguments;  // %s: the command
  Phrase extraArgument;     // %s
  Phrase deleteExtraForFolder;  // %s: the option
  Phrase badBudget;             // %s: the size given
  Phrase budgetAndPlain;
  Phrase checkForFile;          // %s: the option
  // Written to stderr when stdout could not be written: the exit status is then 1.
  Phrase outputFailed;
  // The one line of a failure: the path it concerns, what failed (a step's words, without their
  // full stop before a reason), and the reason (the system's text, or the program's own).
  Phrase errorLine;            // %s, %s: the path, what failed
  Phrase errorLineWithReason;  // %s, %s, %s: the path, what failed, why
  // One line on stdout after success.
  Phrase testFileWritten;    // %s, %llu: the file and its size
  Phrase repairFileWritten;  // %s, %llu
  Phrase repaired;           // %s, %u: the file and the blocks put in place
  Phrase folderRepaired;     // %s, %llu, %llu: the folder, files changed, folders created
  Phrase folderUnchanged;    // %s: the folder, when the repair found nothing to change
  // A name a folder's repair file may not carry: the name, then why.
  Phrase refusedName;
  // What failed when the output is in place but its folder was not flushed (the reason, the
  // system's text, follows in the error line).
  Phrase mayNotSurvivePowerCut;
  Phrase fingerprintWritten;  // %s: XXH3-128 in hexadecimal
  // What a repair says of its result; verify's success is its line on stdout.
  Phrase verified;      // %s
  Phrase notChecked;
  Phrase checkSkipped;
  Phrase fileVerified;  // %s, %s: the file and the fingerprint
  Phrase noFingerprint;
  // A file that still differs: the heading, one line per range, why, and the way on.
  Phrase differs;         // %u
  Phrase differingRange;  // %llu, %llu
  Phrase differsWhy;
  Phrase followUpWritten;  // %s, %llu
  Phrase followUpNext;
  Phrase folderFollowUpNext;
  // The damaged blocks of a valid-file scan: a heading, then one line per block.
  Phrase damagedHeading;  // %u
  Phrase damagedBlock;    // %u, %llu, %llu
  // A refused check: checkFailed, the reason (one line), then nothingWritten.
  Phrase checkFailed;
  Phrase nothingWritten;
  Phrase checkSizeDiffers;         // %llu, %llu
  Phrase checkBlockDiffers;        // %u, %llu, %llu
  Phrase checkTestFileMalformed;   // %llu, %llu
  Phrase checkTestFileTooShort;
  Phrase checkTestFileForFolder;
  Phrase checkSketchDiffers;
  Phrase checkTestFileDiffers;
  Phrase checkAnswersOtherTestFile;
  // Identical copies: what the repair file of no blocks is for.
  Phrase checksumsMatch;
  // A repair refused because the broken file is not the one its repair file was made for: the
  // words before where it shows (one of the check's reasons above), then the way on.
  Phrase otherFile;
  Phrase otherFileNext;
  // The reason in place of the system's text when a file ended before the size it had when
  // measured.
  Phrase fileChangedWhileRead;
  // A stop asked for from outside; a repair cut short is finished by running it again.
  Phrase cancelled;
  Phrase folderRunAgain;
  Phrase runAgain;
  // The same after a repair with --check, which the partly repaired file no longer passes.
  Phrase runAgainWithoutCheck;
  // The progress line on a terminal: percent, MiB done of MiB in all, MiB per second.
  Phrase progress;
};

struct Words {
  LanguageCodes codes;
  WindowWords window;
  DialogWords dialog;
  SharedWords shared;
  StepWords steps;
  EntryWords entries;
  CliWords cli;
};

extern const Words kRussian;
extern const Words kEnglish;

// Every table there is, Russian first: the programs choose among them, and the tests go
// through them all.
std::span<const Words* const> EveryLanguage();

// The table the program speaks with: the one it chose at start, and Russian, the tests'
// language, until it chooses.
const Words& CurrentWords();
void UseWords(const Words& words);

// The table for a POSIX locale: the first of LC_ALL, LC_MESSAGES and LANG that is set and not
// empty names it (LANGUAGE is not read); English for a locale no table is for, C included.
const Words& WordsForLocale(const char* lcAll, const char* lcMessages, const char* lang);
// The table for a Windows display language (GetUserDefaultUILanguage()): by its primary
// language, English for one no table is for.
const Words& WordsForWindowsLanguage(unsigned short languageId);
