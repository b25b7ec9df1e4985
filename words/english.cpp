// The program's words in English, for every user whose language has no table of its own.
#include "words/words.h"

constinit const Words kEnglish = {
    .codes = {"en", 0x09},  // LANG_ENGLISH
    .window =
        {
            .modeBrokenScan = "Scan the broken file",
            .groupBrokenScan = "Scanning the broken file",
            .brokenFile = "Broken file:",
            .modeValidScan = "Scan the valid file",
            .groupValidScan = "Scanning the valid file",
            .validFile = "Valid file:",
            .testFile = "Test file (*.crc):",
            .modeRepair = "Repair the broken file",
            .groupRepair = "Repairing the broken file",
            .repairBrokenFile = "Broken file:",
            .repairFile = "Repair file (*.fix):",
            .outputFolder = "Output folder:",
            .start = "Start",
            .close = "Close",
            .allFilesFilter = "All files (*.*)",
            .testFilesFilter = "Test files (*.crc)",
            .repairFilesFilter = "Repair files (*.fix)",
        },
    .dialog =
        {
            .allocateBrowseRecord = "Could not allocate space in the additional heap.",
            .getProcessHeap = "Could not get the handle of the process heap.",
            .fillAllFields = "Please fill in every field.",
            .attentionExclaimed = "Varnell",
            .working = "Working",
            .ready = "Ready",
            .modeBrokenScan = "Mode: broken file scan",
            .modeValidScan = "Mode: valid file scan",
            .modeRepair = "Mode: broken file repair",
            .taskDone = "Done.",
            .workingPercent = "Working: %u%%",
            .startWorker = "Could not start the thread that works on the file.",
            .askStop = "Stop the current operation?",
            .scanStopped =
                "The operation was stopped. No new file was created; a file of that name that was there before is "
                "unchanged.",
            .repairStoppedPartly =
                "The repair was stopped. The broken file is partly repaired; to finish the repair, run it again with the "
                "same repair file.",
            .repairStoppedUntouched = "The repair was stopped before its first write. The broken file is unchanged.",
            .fileChangedWhileRead =
                "The file changed while it was being read: it became shorter. Run the operation again once the file has "
                "stopped changing.",
            .mayNotSurvivePowerCut =
                "The new file is written and has already replaced the old one, but its folder could not be flushed to "
                "the disk: after a power failure the new file may be lost.",
            .folderExtras = "Extra files and folders (only in the broken folder, left in place):",
            .folderSkipped = "Skipped:",
            .folderMismatch = "Not matching the valid file's fingerprint (a new exchange is needed):",
            .folderRepairDiffers =
                "The folder is not fully repaired: some files did not match the valid ones after they were written. "
                "Do steps 1–3 for this folder again.",
            .folderRepairDiffersHead = "The folder's repair is not complete: some files did not match the valid ones once written.",
            .folderDiffersNext =
                "What to do next: a follow-up test file of the folder was written\n%s\nSend it to the owner of the "
                "valid folder. They choose “Scan the valid file”, that folder as the valid file and this file as the "
                "test file, and send back a new repair file of the folder with exactly the blocks that differ; apply "
                "it with “Repair the broken file”.",
            .folderNotScanned =
                "Some files changed or appeared after the broken folder was scanned: they were left untouched (see the "
                "skipped list). For them, do steps 1 to 3 with this folder again.",
            .moreEntries = "… and %u more",
            .folderRepairStoppedPartly =
                "The repair was stopped. The broken folder is partly repaired; to finish the repair, run it again with "
                "the same repair file.",
            .folderRepairStoppedUntouched =
                "The repair was stopped before its first write. The broken folder is unchanged.",
            .refusedName = "Name: %s",
            .differsHead =
                "The repair is done, but the file still differs from the valid file. Places that differ: %u.",
            .differsRange = "bytes %s–%s",
            .differsMore = "and %u more",
            .differsWhy =
                "The block checksums the program compares cannot see such damage; the valid file's fingerprint in the "
                "repair file showed it.",
            .differsNext =
                "What to do next: a follow-up test file was written\n%s\nSend it to the owner of the valid file. They "
                "choose “Scan the valid file” and this file as the test file, and send back a new repair file with "
                "exactly the blocks that differ; apply it with “Repair the broken file”.",
            .chooseFile = "Choose a file to open",
            .chooseFolder = "Choose a folder.",
        },
    .shared =
        {
            .unforeseen = "Cannot continue",
            .attention = "Varnell",
            .heldBy = "The file is open in “%s”: close it and run the operation again.",
            .heldByAnother = "The file is open in another program: close it and run the operation again.",
            .otherFile =
                "The repair file was made for another file, or the broken file has changed since its test file was "
                "made. The broken file is unchanged; make a new test file.",
            .askedForMore = "More blocks are damaged than this test file can describe. In place of the repair file, the "
                            "request %s has been written: send it back. From it, Varnell at the broken file makes a larger "
                            "test file.",
            .largerTestFile = "A larger test file has been written: %s. The broken file is unchanged. Send this test file "
                              "to whoever holds the intact copy, once more.",
            .folderAskedForMore = "The folders differ in more than this test file can describe. In place of the repair "
                                  "file, the request %s has been written: send it back. From it, Varnell at the broken "
                                  "folder makes a larger test file.",
            .folderLargerTestFile = "A larger test file has been written: %s. The broken folder is unchanged. Send this "
                                    "test file to whoever holds the intact folder, once more.",
            .identicalProof =
                "Every block's checksum of the broken file matches the valid file, but matching checksums do not yet "
                "prove the files the same. A repair file without blocks has been written: %s. Send it back: the repair "
                "with it (“Repair the broken file”) checks the broken file against the valid file's fingerprint and "
                "proves it whole, or finds what differs.",
            .differsMuch = "%u%% of the file differs. A damaged copy seldom differs so much: is the valid file the same "
                           "version as the broken one? The repair will replace the broken file with this version.",
            .replacedShare = "%u%% of the file was replaced.",
            .alreadyRepaired = "Every block of the repair file was already in place: the file is unchanged.",
            .alreadyApplied = "This repair file had already been applied: all its blocks were already in place. The "
                              "answer to the newest test file is needed.",
        },
    .steps =
        {
            .openBroken = "Could not open the broken file.",
            .sizeBroken = "Could not get the size of the broken file.",
            .allocateBroken = "Could not allocate memory for the broken file's buffer.",
            .readBroken = "Could not read the broken file into memory.",
            .allocateTestFileBuffer = "Could not allocate memory for the new file's buffer.",
            .createOutput = "Could not create the new file.",
            .writeOutput = "Could not write to the new file.",
            .openValid = "Could not open the valid file.",
            .openTest = "Could not open the test file.",
            .sizeValid = "Could not get the size of the valid file.",
            .allocateValid = "Could not allocate memory for the valid file's buffer.",
            .sizeTest = "Could not get the size of the test file.",
            .checkTestFileSize = "The broken file is larger than the valid file",
            .checkLargeTestFile = "The large-form test file (4 GB and more) is damaged or cut short",
            .allocateTest = "Could not allocate memory for the test file's buffer.",
            .readValid = "Could not read the valid file into memory.",
            .readTest = "Could not read the test file into memory.",
            .commitList = "Could not commit memory for the list of damaged blocks.",
            .openRepair = "Could not open the repair file.",
            .sizeRepair = "Could not get the size of the repair file.",
            .commitRepairBuffer = "Could not commit memory for the repair file's buffer.",
            .readRepair = "Could not read the repair file into its buffer.",
            .checkRepairFile = "The repair file is damaged or was not made for this broken file",
            .checkLargeRepairFile = "The large-form repair file (4 GB and more) is damaged or cut short",
            .commitBrokenBuffer = "Could not commit memory for the broken file's buffer.",
            .writeRepaired = "Could not write the repaired contents to the broken file.",
            .checkTestFileForFolder = "The test file was made for a folder: choose a folder, not a file",
            .checkRepairFileForFolder = "The repair file was made for a folder: choose a folder, not a file",
            .openBrokenFolder = "Could not open the broken folder.",
            .openValidFolder = "Could not open the valid folder.",
            .listFolder = "Could not read the folder's contents.",
            .allocateListing = "Could not allocate memory for the folder's list of files.",
            .checkTestFileForOneFile = "The test file was made for a single file, not for a folder",
            .checkRepairFileForOneFile = "The repair file was made for a single file, not for a folder",
            .checkFolderTestFile = "The folder's test file is damaged or cut short",
            .checkFolderRepairFile = "The folder's repair file is damaged or cut short",
            .checkRepairFileName = "The folder's repair file holds a name that is not allowed; nothing was changed",
            .createFolder = "Could not create the folder.",
            .renameEntry = "Could not rename the file or folder.",
            .removeExtra = "Could not delete the extra file or folder.",
            .allocateFingerprint = "Could not allocate memory for the valid file's fingerprint.",
            .checkFingerprint =
                "The valid file's fingerprint at the end of the repair file is damaged or cut short. The broken file is "
                "unchanged; get the repair file again",
            .allocateReadBack = "Could not allocate memory to check the repaired file.",
            .readBack = "Could not read the repaired file back to check it.",
            .createFollowUp =
                "The file still differs from the valid file, but the follow-up test file could not be created.",
            .writeFollowUp =
                "The file still differs from the valid file, but the follow-up test file could not be written.",
            .checkFollowUp = "The follow-up test file is damaged or was made for a file of another size",
            .keepFileAttributes = "Could not give the repaired copy of the file its access rights and modification time.",
            .checkFolderFollowUp = "The folder's follow-up test file is damaged or cut short",
            .checkCompactTestFile = "The compact test file is damaged or cut short",
            .checkAskingRepairFile = "The request for a larger test file is damaged or cut short",
            .checkTestFileBudget = "The size allowed is no larger than the test file already sent: allow a larger one",
            .readValidStamp = "Could not read the valid file's access rights and modification time.",
            .setFileStamp = "Could not give the file the valid file's modification time.",
            .brokenIsTestFile = "The file chosen as the broken file is a Varnell test file, not the file itself. "
                                "Choose the damaged file.",
            .brokenIsRepairFile = "The file chosen as the broken file is a Varnell repair file, not the file itself. "
                                  "Choose the damaged file; the repair file goes in the field “Repair file”.",
            .validIsTestFile = "The file chosen as the valid file is a Varnell test file, not the intact copy. Choose "
                               "the intact copy; the test file goes in the field “Test file”.",
            .validIsRepairFile = "The file chosen as the valid file is a Varnell repair file, written by a scan of the "
                                 "valid file, not the intact copy. Choose the intact copy.",
            .testIsRepairFile = "The file chosen as the test file is a repair file. Choose the test file (*.crc) sent "
                                "from the broken file.",
            .repairIsTestFile = "The file chosen as the repair file is a test file: it goes to whoever holds the intact "
                                "copy. Choose the repair file (*.fix) sent back.",
            .checkEarlierTestFile = "This test file has been answered before: the repair file written under the same name "
                                    "answers a newer test file that followed it. Choose the newest test file.",
        },
    .entries =
        {
            .foldersIdentical = "The broken folder and the valid folder have identical contents.",
            .olderAnswerRemoved = "The older repair file %s was removed: it answered an earlier test file, and applied "
                                  "now it would undo what has changed since.",
            .damaged = "Damaged, blocks: %llu: %s",
            .lengthDiffers = "Differs only in length: %s",
            .missing = "Not in the broken folder, will be sent whole: %s",
            .folderMissing = "Folder not in the broken folder, will be created: %s",
            .caseDiffers = "Name differs in letter case, will be renamed: %s",
            .extra = "Extra, only in the broken folder: %s",
            .extraFolder = "Extra folder, only in the broken folder: %s",
            .repaired = "Repaired, blocks put in place: %llu: %s",
            .repairedThroughCopy =
                "Repaired through a copy (the file has other names, which keep what they had), blocks put in place: "
                "%llu: %s",
            .created = "Created: %s",
            .folderCreated = "Folder created: %s",
            .renamed = "Renamed: %s",
            .deleted = "Extra file deleted: %s",
            .folderDeleted = "Extra folder deleted: %s",
            .mismatch = "Does not match the valid file's fingerprint, a new exchange is needed: %s",
            .verified = "Matches the valid file's fingerprint: %s",
            .skipped = "Skipped: %s",
            .skipLink = "it is a symbolic link or a junction",
            .skipNotRegular = "it is neither a file nor a folder (a device, a pipe or a socket)",
            .skipBadName = "the name cannot be sent: ",
            .skipTooDeep = "the folder is nested deeper than 128 levels",
            .skipBrokenSide = "skipped when the broken folder was scanned: ",
            .skipBrokenUnreadable = "it could not be read",
            .skipNotPossibleThere = "such a name is not possible in the broken folder: ",
            .skipNameTaken = "another file, folder or link is in its place",
            .skipGone = "it is no longer in the broken folder",
            .skipNotEmpty = "the folder is not empty",
            .skipOtherFile =
                "the file has changed since the broken folder was scanned, or the repair file was made for another "
                "folder; the file is unchanged",
            .skipNotSeen = "this file was not there when the broken folder was scanned; it is left as it is",
            .skipShortName = "it is the short (8.3) name of another file or folder",
            .kept = "The file is written whole and kept under the temporary name %s: the next run of the repair renames "
                "it without writing it again.",
            .fetched = "Files fetched from the cloud: %llu",
            .nameEmpty = "an empty name or an empty part of the path",
            .nameAbsolute = "a path from the root of a drive",
            .nameDot = "a path part “.” or “..”",
            .nameBackslash = "a backslash in the name",
            .nameColon = "a colon in the name",
            .nameControl = "a control character in the name",
            .nameNotUtf8 = "the name is not in UTF-8",
            .nameForbidden = "a character Windows does not allow in names",
            .nameReserved = "a name Windows reserves for a device",
            .nameTrailing = "the name ends with a dot or a space",
            .nameTooLong = "the name or the path is too long",
            .nameCaseClash = "two names differ only in letter case",
        },
    .cli =
        {
            .synopsis =
                "Usage:\n"
                "  varnell-cli scan-broken BROKEN_FILE OUTPUT_FOLDER [--budget SIZE | --plain] [-q] [-j]\n"
                "  varnell-cli scan-valid VALID_FILE TEST_FILE OUTPUT_FOLDER [--list] [--prove] [-q] [-j]\n"
                "  varnell-cli repair BROKEN_FILE REPAIR_FILE [--check TEST_FILE] [--no-verify] [--follow-up FOLDER]\n"
                "                     [--budget SIZE] [-q] [-j]\n"
                "  varnell-cli repair BROKEN_FOLDER REPAIR_FILE [--delete-extra] [--follow-up FOLDER] [--budget SIZE]\n"
                "                     [-q] [-j]\n"
                "  varnell-cli verify FILE REPAIR_FILE [-q] [-j]\n"
                "  varnell-cli COMMAND --help\n"
                "  varnell-cli --help | --version\n",
            .help =
                "\n"
                "Repairs a damaged copy of a file from an intact copy held somewhere else:\n"
                "  scan-broken  beside the broken file, writes the test file OUTPUT_FOLDER/NAME.crc\n"
                "               (the size and the checksums of 4096-byte blocks; from 1 GiB, or a\n"
                "               folder's above 1 MiB, a compact test file that grows with the damage:\n"
                "               --budget SIZE sets its size, --plain writes the ordinary one);\n"
                "  scan-valid   beside the valid file, compares it with the test file and writes\n"
                "               the repair file OUTPUT_FOLDER/NAME.fix with the blocks that differ and\n"
                "               the valid file's fingerprint (XXH3-128); the block numbers and their\n"
                "               bytes go to stderr, with --list to stdout; copies whose checksums all\n"
                "               match get one without blocks, --prove gives one to identical folders\n"
                "               too. A follow-up test file (after a repair that still differs) is\n"
                "               answered with exactly the blocks that still differ. A compact test\n"
                "               file that cannot describe the damage is answered with a request for\n"
                "               a larger one;\n"
                "  repair       puts the repair file's blocks in place in the broken file and gives it\n"
                "               the valid file's size; with --check TEST_FILE it first makes sure the\n"
                "               broken file has not changed since the test file TEST_FILE was made\n"
                "               from it. Then it reads the file again and compares it with the valid\n"
                "               file's fingerprint (--no-verify: without this check); if the file still\n"
                "               differs, it writes the follow-up test file NAME.crc beside the broken\n"
                "               file or into the folder --follow-up FOLDER. An interrupted repair is\n"
                "               finished by running it again with the same repair file, without --check.\n"
                "               A repair file made for another file (or for a file changed since step 1)\n"
                "               is refused, and nothing is written. Given a request for a larger test\n"
                "               file, it writes that test file where a follow-up goes.\n"
                "  verify       compares FILE with the fingerprint in the repair file, writing nothing.\n"
                "  -q, --quiet  no progress line, and nothing printed on success (failures still are).\n"
                "  -j, --json   one JSON object on stdout with the result; messages go to stderr.\n"
                "  COMMAND --help  the command's own usage and options.\n"
                "\n"
                "A folder may be given instead of a file: the test file FOLDER_NAME.crc describes\n"
                "every file and folder in it, the repair file FOLDER_NAME.fix carries everything the\n"
                "broken folder lacks, and the repair of a folder mends, creates and renames the files\n"
                "and folders in it. Extra files and folders (only in the broken folder) are only\n"
                "named, and deleted with --delete-extra. Links are never opened or created.\n"
                "\n"
                "Files of any size (up to 16 TiB); the test file and the repair file appear under\n"
                "their names only once written whole.\n"
                "\n"
                "Failures are told on stderr as \"varnell-cli: PATH: what failed: reason\".\n"
                "\n"
                "Exit statuses: 0 done; 1 the operation stopped (the reason is on stderr);\n"
                "2 wrong usage; 3 scan-valid: every checksum matches (a file's repair file without\n"
                "  blocks written; a folder: nothing written);\n"
                "4 repair --check: the check failed, nothing written;\n"
                "5 repair, verify: the file (or a folder's file) still differs from the valid file\n"
                "  (the places are on stderr);\n"
                "6 folder: done, but some files or folders were skipped (listed on stderr);\n"
                "7 the file is written and has replaced the old one, but may not survive a power failure;\n"
                "8 verify: the repair file carries no fingerprint, nothing to compare with;\n"
                "9 repair: the repair file was made for another file, or the file has changed since\n"
                "  its test file was made, or with --check it answers another test file; nothing\n"
                "  written (a folder: such files skipped, the rest repaired);\n"
                "10 scan-valid: the compact test file could not describe the damage, a request for a\n"
                "  larger test file written under the repair file's name; repair: given that request,\n"
                "  the larger test file written. Send it on.\n"
                "Interrupted (Ctrl+C, SIGTERM, SIGHUP), it cleans up and ends by that signal, which a\n"
                "shell shows as 128 and the signal's number (130 for Ctrl+C); on Windows it ends with 1.\n",
            .scanBrokenHelp =
                "Usage: varnell-cli scan-broken BROKEN_FILE OUTPUT_FOLDER [--budget SIZE | --plain] [-q] [-j]\n"
                "\n"
                "Beside the broken file, writes the test file OUTPUT_FOLDER/NAME.crc: the file's size\n"
                "and the checksums of its 4096-byte blocks (NAME: the file's name up to its last\n"
                "dot). A folder may be given instead of the file: its test file FOLDER_NAME.crc\n"
                "describes everything in it. From 1 GiB (a folder: where its test file would exceed\n"
                "1 MiB) the test file is the compact form, whose size follows the damage; versions\n"
                "before it do not read it.\n"
                "\n"
                "  --budget SIZE  the compact test file's size: bytes, or with K, M, G (at least 4K)\n"
                "  --plain        the ordinary test file, whatever the size\n"
                "  -q, --quiet    no progress line, and nothing printed on success\n"
                "  -j, --json     one JSON object on stdout with the result; messages go to stderr\n"
                "\n"
                "Exit statuses: 0 done; 1 stopped; 2 wrong usage; 6 a folder's entries skipped;\n"
                "7 written, but may not survive a power failure.\n",
            .scanValidHelp =
                "Usage: varnell-cli scan-valid VALID_FILE TEST_FILE OUTPUT_FOLDER [--list] [--prove] [-q] [-j]\n"
                "\n"
                "Beside the valid file, compares it with the test file and writes the repair file\n"
                "OUTPUT_FOLDER/NAME.fix with the blocks that differ and the valid file's fingerprint\n"
                "(XXH3-128). A folder may be given instead of the file, with its folder's test file.\n"
                "\n"
                "  --list       the damaged blocks on stdout instead of stderr\n"
                "  --prove      a repair file for identical folders too, which the repair checks\n"
                "  -q, --quiet  no progress line, and nothing printed on success\n"
                "  -j, --json   one JSON object on stdout with the result; messages go to stderr\n"
                "\n"
                "Exit statuses: 0 done; 1 stopped; 2 wrong usage; 3 every checksum matches (a file's\n"
                "proof written); 6 a folder's entries skipped; 7 written, but may not survive a power\n"
                "failure; 10 the compact test file could not describe the damage: a request for a\n"
                "larger one is written in the repair file's place, to send back.\n",
            .repairHelp =
                "Usage: varnell-cli repair BROKEN_FILE REPAIR_FILE [--check TEST_FILE] [--no-verify]\n"
                "                          [--follow-up FOLDER] [--budget SIZE] [-q] [-j]\n"
                "       varnell-cli repair BROKEN_FOLDER REPAIR_FILE [--delete-extra] [--follow-up FOLDER]\n"
                "                          [--budget SIZE] [-q] [-j]\n"
                "\n"
                "Puts the repair file's blocks in place in the broken file, gives it the valid file's\n"
                "size and reads it back against the valid file's fingerprint. A repair file made for\n"
                "another file is refused, and nothing is written.\n"
                "\n"
                "  --check TEST_FILE   first make sure the file has not changed since TEST_FILE was\n"
                "                      made from it\n"
                "  --no-verify         do not read the result back\n"
                "  --follow-up FOLDER  where the follow-up test file goes if the result still differs\n"
                "                      (without it, beside the broken file or folder)\n"
                "  --delete-extra      a folder: delete what only the broken folder has\n"
                "  --budget SIZE       given a request for a larger test file: its size at most\n"
                "  -q, --quiet         no progress line, and nothing printed on success\n"
                "  -j, --json          one JSON object on stdout with the result; messages go to stderr\n"
                "\n"
                "Exit statuses: 0 done; 1 stopped (run it again with the same repair file, without\n"
                "--check); 2 wrong usage; 4 --check refused, nothing written; 5 the result still\n"
                "differs (a follow-up test file is written); 6 a folder's entries skipped; 9 made for\n"
                "another file, or with --check answering another test file, nothing written; 10 given\n"
                "a request, the larger test file is written, to send on.\n",
            .verifyHelp =
                "Usage: varnell-cli verify FILE REPAIR_FILE [-q] [-j]\n"
                "\n"
                "Compares FILE with the valid file's fingerprint in the repair file, writing nothing.\n"
                "\n"
                "  -q, --quiet  no progress line, and nothing printed on success\n"
                "  -j, --json   one JSON object on stdout with the result; messages go to stderr\n"
                "\n"
                "Exit statuses: 0 the file matches; 1 stopped; 2 wrong usage; 5 it differs (the\n"
                "places are on stderr); 8 the repair file carries no fingerprint.\n",
            .usageProblem = "varnell-cli: %s\n",
            .moreHelp = "More: varnell-cli --help\n",
            .noCommand = "no command given",
            .unknownCommand = "unknown command: %s",
            .unknownOption = "unknown option: %s",
            .repeatedOption = "option given twice: %s",
            .optionNeedsValue = "%s needs a path after it",
            .missingArguments = "%s: too few arguments",
            .extraArgument = "extra argument: %s",
            .deleteExtraForFolder = "%s: only for the repair of a folder",
            .badBudget = "--budget %s: a size of at least 4K is needed, in bytes or with K, M, G",
            .budgetAndPlain = "--budget and --plain do not go together",
            .checkForFile = "%s: only for the repair of a single file",
            .outputFailed = "varnell-cli: could not write to standard output\n",
            .errorLine = "varnell-cli: %s: %s\n",
            .errorLineWithReason = "varnell-cli: %s: %s: %s\n",
            .testFileWritten = "Test file written: %s, size in bytes: %llu\n",
            .repairFileWritten = "Repair file written: %s, size in bytes: %llu\n",
            .repaired = "File repaired: %s, blocks put in place: %u\n",
            .folderRepaired = "Folder repaired: %s, files changed: %llu, folders created: %llu\n",
            .folderUnchanged = "Folder %s: nothing needed changing, nothing written.\n",
            .refusedName = "Name: ",
            .mayNotSurvivePowerCut =
                "The new file is already in place of the old one, but its folder could not be flushed to the disk, so a "
                "power failure may still lose it",
            .fingerprintWritten = "Valid file's fingerprint (XXH3-128, as xxh128sum prints it): %s\n",
            .verified = "Result verified: the file matches the valid file, XXH3-128 %s.\n",
            .notChecked = "Result not verified: the repair file carries no fingerprint of the valid file.\n",
            .checkSkipped = "Result not verified (--no-verify).\n",
            .fileVerified = "The file matches the valid file: %s, XXH3-128 %s\n",
            .noFingerprint = "The repair file carries no fingerprint of the valid file: nothing to compare with.\n",
            .differs = "The file still differs from the valid file, places: %u (first-last byte):\n",
            .differingRange = "%llu-%llu\n",
            .differsWhy = "The block checksums cannot see such damage; only the valid file's fingerprint finds it.\n",
            .followUpWritten = "Follow-up test file written: %s, size in bytes: %llu\n",
            .followUpNext =
                "Send it to the owner of the valid file: scan-valid with it gives a repair file with exactly the blocks "
                "that differ; apply that one the same way.\n",
            .folderFollowUpNext =
                "Send it to the owner of the valid folder: scan-valid with it gives a folder repair file with exactly the "
                "blocks of these files that differ; apply it to the folder the same way.\n",
            .damagedHeading = "Damaged blocks: %u (number: first-last byte)\n",
            .damagedBlock = "%u: %llu-%llu\n",
            .checkFailed = "The check against the test file failed: ",
            .nothingWritten = "The broken file is unchanged.\n",
            .checkSizeDiffers = "the broken file is %llu bytes long, but the test file records a size of %llu bytes.",
            .checkBlockDiffers = "block %u (bytes %llu-%llu) differs from the one recorded in the test file.",
            .checkTestFileMalformed = "a test file of %llu bytes cannot be the test file of a file of %llu bytes.",
            .checkTestFileTooShort = "the test file is shorter than 4 bytes.",
            .checkTestFileForFolder = "the test file was made for a folder, not for a file.",
            .checkSketchDiffers = "the broken file differs from the compact test file in more blocks than it can name.",
            .checkTestFileDiffers = "the broken file no longer gives the test file this request answers.",
            .checkAnswersOtherTestFile = "the repair file answers another test file, not this one: it belongs to an "
                                         "earlier exchange.",
            .checksumsMatch = "Every block's checksum matches. The repair file has no blocks: repair with it proves the "
                              "files the same or finds what differs.\n",
            .otherFile = "The repair file was made for another file, or the file has changed since its test file was made: ",
            .otherFileNext = "The broken file is unchanged; make a new test file and a new exchange.\n",
            .fileChangedWhileRead =
                "the file became shorter while it was being read; run the command again once it has stopped changing",
            .cancelled = "Interrupted.\n",
            .folderRunAgain =
                "The broken folder is not fully repaired: run the repair again with the same repair file.\n",
            .runAgain = "The broken file is not fully repaired: run the repair again with the same repair file.\n",
            .runAgainWithoutCheck =
                "The broken file is not fully repaired: run the repair again with the same repair file, without "
                "--check (the file is already partly changed, and the check would refuse it).\n",
            .progress = "%3u%%  %.1f of %.1f MiB  %.1f MiB/s",
        },
};
