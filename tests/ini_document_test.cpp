#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "sim/workstation.h"
#include "support/ini_document.h"

namespace {

const char* const kIniPath = "C:\\WINDOWS\\WININIT.INI";

struct RoundTrip {
    const char* name;
    std::string onDisk;
    std::string savedBack;
};

std::string Blanks(size_t count) { return std::string(count, ' '); }

// Lines of a file as an administrator writes them; the last one has no line end.
std::string Lines(std::initializer_list<std::string> lines) {
    std::string text;
    bool first = true;
    for (const std::string& line : lines) {
        if (!first) text += "\r\n";
        text += line;
        first = false;
    }
    return text;
}

void PrintTo(const RoundTrip& trip, std::ostream* os) { *os << trip.name; }

class IniDocumentRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(IniDocumentRoundTrip, LoadThenSaveWritesTheseBytes) {
    const RoundTrip& trip = GetParam();
    sim::Workstation ws;
    ws.File(kIniPath, trip.onDisk);
    IniDocument doc;
    ASSERT_EQ(doc.Load(kIniPath), 0);
    ASSERT_EQ(doc.Save(kIniPath), 0);
    EXPECT_EQ(ws.Read(kIniPath), trip.savedBack);
}

const std::string kLongValue = std::string(1498, 'v');    // "k=" and it: 1500 characters
const std::string kLongComment = ";" + std::string(1499, 'c');
const std::string kVeryLongLine = "k=" + std::string(9998, 'w');

INSTANTIATE_TEST_SUITE_P(
    Lines, IniDocumentRoundTrip,
    ::testing::Values(
        RoundTrip{"Comment", Lines({"; written by setup", "[rename]", "nul=C:\\A.EXE"}),
                  Lines({"; written by setup", "[rename]", "nul=C:\\A.EXE"})},
        RoundTrip{"CommentWithEquals", Lines({"[rename]", "  ; nul = C:\\OLD.EXE", "a=1"}),
                  Lines({"[rename]", "  ; nul = C:\\OLD.EXE", "a=1"})},
        RoundTrip{"BlankLines", Lines({"[s]", "", "a=1", "   ", "\t", "b=2"}),
                  Lines({"[s]", "", "a=1", "   ", "\t", "b=2"})},
        RoundTrip{"LineWithoutEquals", Lines({"[s]", "  just some words  ", "a=1"}),
                  Lines({"[s]", "  just some words  ", "a=1"})},
        RoundTrip{"OneSpaceAroundEquals", Lines({"[s]", "key = value"}),
                  Lines({"[s]", "key = value"})},
        RoundTrip{"TabsAroundEqualsBecomeSpaces", Lines({"[s]", "\tkey\t= \tvalue"}),
                  Lines({"[s]", " key =  value"})},
        RoundTrip{"SeveralBlanksAroundEquals", Lines({"[s]", "   key   =    value"}),
                  Lines({"[s]", "   key   =    value"})},
        RoundTrip{"BlanksInsideKeyAndAfterValue", Lines({"[s]", "two words = a value  "}),
                  Lines({"[s]", "two words = a value  "})},
        RoundTrip{"TwoEquals", Lines({"[s]", "a = b = c"}), Lines({"[s]", "a = b = c"})},
        RoundTrip{"EmptyKey", Lines({"[s]", "  = value"}), Lines({"[s]", "  = value"})},
        RoundTrip{"EmptyValue", Lines({"[s]", "key =", "next="}),
                  Lines({"[s]", "key =", "next="})},
        RoundTrip{"HeaderWithComment", Lines({"[rename] ; for the next boot", "a=1"}),
                  Lines({"[rename]", "a=1"})},
        RoundTrip{"BlanksBeforeHeader", Lines({"  \t[rename]", "a=1"}),
                  Lines({"[rename]", "a=1"})},
        RoundTrip{"BlanksInsideHeaderKept", Lines({"[ my section ]", "a=1"}),
                  Lines({"[ my section ]", "a=1"})},
        RoundTrip{"UnclosedBracket", Lines({"[s]", "[broken = 1", "a=1"}),
                  Lines({"[s]", "[broken = 1", "a=1"})},
        RoundTrip{"UnclosedBracketBeforeAnyHeader", Lines({"[broken", "[s]", "a=1"}),
                  Lines({"[broken", "[s]", "a=1"})},
        RoundTrip{"RepeatedHeaderMerges",
                  Lines({"[Rename]", "a=1", "[other]", "b=2", "[RENAME]", "c=3", "[rename]",
                         "d=4"}),
                  Lines({"[Rename]", "a=1", "c=3", "d=4", "[other]", "b=2"})},
        // Only A to Z fold; these are two different letters of the code page.
        RoundTrip{"OtherLettersDoNotFold", Lines({"[\xC4]", "a=1", "[\xE4]", "b=2"}),
                  Lines({"[\xC4]", "a=1", "[\xE4]", "b=2"})},
        RoundTrip{"LinesBeforeFirstHeader", Lines({"; top", "x = 1", "", "[s]", "a=1"}),
                  Lines({"; top", "x = 1", "", "[s]", "a=1"})},
        RoundTrip{"OnlyLinesWithoutHeader", Lines({"x=1", "y"}), Lines({"x=1", "y"})},
        RoundTrip{"EntryWith127LeadingBlanks", Lines({"[s]", Blanks(127) + "a=1"}),
                  Lines({"[s]", Blanks(127) + "a=1"})},
        RoundTrip{"EntryWith128LeadingBlanks", Lines({"[s]", Blanks(128) + "a=1"}),
                  Lines({"[s]", "a=1"})},
        RoundTrip{"EntryWith130LeadingBlanks", Lines({"[s]", Blanks(130) + "a=1"}),
                  Lines({"[s]", "a=1"})},
        RoundTrip{"EntryWith259LeadingBlanks", Lines({"[s]", Blanks(259) + "a=1"}),
                  Lines({"[s]", Blanks(3) + "a=1"})},
        RoundTrip{"EntryWith130BlanksAroundEquals",
                  Lines({"[s]", "a" + Blanks(130) + "=" + Blanks(130) + "1"}),
                  Lines({"[s]", "a=1"})},
        RoundTrip{"PlainLineWith130LeadingBlanks", Lines({"[s]", Blanks(130) + "; note"}),
                  Lines({"[s]", Blanks(130) + "; note"})},
        RoundTrip{"EmptyFile", "", ""},
        RoundTrip{"NoLineEndAfterLastEntry", "[s]\r\na=1\r\n", "[s]\r\na=1"},
        // The line end after the last line is dropped, and with it the
        // line end of an empty last line.
        RoundTrip{"EmptyLastLine", "[s]\r\na=1\r\n\r\n", "[s]\r\na=1\r\n"},
        // Found by the fuzzer: the file that is one empty line saves as an empty file.
        RoundTrip{"OnlyAnEmptyLine", "\n", ""},
        // Found by the fuzzer: 128 blanks, tabs or spaces, count as -128 and write none.
        RoundTrip{"EntryWith128LeadingTabs", std::string(128, '\t') + "=", "="},
        RoundTrip{"EntryWith128MixedBlanksAfterEquals",
                  "=" + Blanks(61) + "\t\t" + Blanks(27) + "\t\t" + Blanks(33) + "\t\t ",
                  "="},
        RoundTrip{"TextEndsAtNulByte", std::string("[s]\r\na=1\0junk\r\nb=2", 18),
                  Lines({"[s]", "a=1", "b=2"})},
        RoundTrip{"LastSectionEmpty", Lines({"[s]", "a=1", "[t]"}),
                  Lines({"[s]", "a=1", "[t]"}) + "\r\n"},
        RoundTrip{"OnlyAHeader", "[s]", "[s]\r\n"},
        RoundTrip{"LongEntry", Lines({"[s]", "k=" + kLongValue, "a=1"}),
                  Lines({"[s]", "k=" + kLongValue, "a=1"})},
        RoundTrip{"LongPlainLine", Lines({"[s]", kLongComment, "a=1"}),
                  Lines({"[s]", kLongComment, "a=1"})},
        RoundTrip{"LongEntryThenLongPlainLineLast", Lines({"[rename]", "k=" + kLongValue, kLongComment}),
                  Lines({"[rename]", "k=" + kLongValue, kLongComment})},
        RoundTrip{"VeryLongLastLine", Lines({"[s]", kVeryLongLine}),
                  Lines({"[s]", kVeryLongLine})},
        RoundTrip{"LineFeedsOnlyBecomeCrLf", "[s]\na=1\nb=2\n", "[s]\r\na=1\r\nb=2"},
        RoundTrip{"LoneCarriageReturnStays", "[s]\r\na=1\rb=2\r\n", "[s]\r\na=1\rb=2"},
        RoundTrip{"CtrlZEndsTheFile", "[s]\r\na=1\r\n\x1A" "b=2\r\n", "[s]\r\na=1"}),
    [](const ::testing::TestParamInfo<RoundTrip>& info) { return std::string(info.param.name); });

TEST(IniDocument, LoadCountsBlanksAroundEquals) {
    sim::Workstation ws;
    ws.File(kIniPath, "[s]\r\nkey = value\r\n\t\tk\t=v");
    IniDocument doc;
    ASSERT_EQ(doc.Load(kIniPath), 0);
    ASSERT_NE(doc.sections, nullptr);
    const IniEntry* entry = doc.sections->entries;
    ASSERT_NE(entry, nullptr);
    EXPECT_STREQ(entry->key, "key");
    EXPECT_STREQ(entry->text, "value");
    EXPECT_EQ(entry->indent, 0);
    EXPECT_EQ(entry->blanksBeforeEquals, 1);
    EXPECT_EQ(entry->blanksAfterEquals, 1);
    entry = entry->next;
    ASSERT_NE(entry, nullptr);
    EXPECT_STREQ(entry->key, "k");
    EXPECT_EQ(entry->indent, 2);
    EXPECT_EQ(entry->blanksBeforeEquals, 1);
    EXPECT_EQ(entry->blanksAfterEquals, 0);
}

struct Change {
    const char* name;
    std::string onDisk;
    const char* section;
    const char* key;
    const char* value;
    int occurrence;
    std::string savedBack;
};

void PrintTo(const Change& change, std::ostream* os) { *os << change.name; }

class IniDocumentChange : public ::testing::TestWithParam<Change> {};

TEST_P(IniDocumentChange, SetEntryThenSaveWritesTheseBytes) {
    const Change& change = GetParam();
    sim::Workstation ws;
    ws.File(kIniPath, change.onDisk);
    IniDocument doc;
    ASSERT_EQ(doc.Load(kIniPath), 0);
    doc.SetEntry(change.section, change.key, change.value, change.occurrence);
    ASSERT_EQ(doc.Save(kIniPath), 0);
    EXPECT_EQ(ws.Read(kIniPath), change.savedBack);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, IniDocumentChange,
    ::testing::Values(
        Change{"OccurrenceZeroReplacesFirstKeepingBlanks",
               Lines({"[rename]", "  nul =  C:\\OLD.EXE", "nul=C:\\B.EXE"}), "RENAME", "NUL",
               "C:\\NEW.EXE", 0, Lines({"[rename]", "  nul =  C:\\NEW.EXE", "nul=C:\\B.EXE"})},
        Change{"Occurrence999AppendsSameKey", Lines({"[rename]", "nul=C:\\A.EXE"}), "rename",
               "nul", "C:\\B.EXE", 999, Lines({"[rename]", "nul=C:\\A.EXE", "nul=C:\\B.EXE"})},
        Change{"OccurrenceCountsOnlyThatKey",
               Lines({"[s]", "; k=0", "k=1", "other=1", "k=2", "k=3"}), "s", "K", "X", 1,
               Lines({"[s]", "; k=0", "k=1", "other=1", "k=X", "k=3"})},
        Change{"SplitsAtFirstEquals", Lines({"[s]", "a=b=c"}), "s", "a", "x", 0,
               Lines({"[s]", "a=x"})},
        Change{"AppendsAfterLastEntryOfSection",
               Lines({"[rename]", "a=1", "", "[other]", "b=2"}), "rename", "nul", "C:\\X", 999,
               Lines({"[rename]", "a=1", "", "nul=C:\\X", "[other]", "b=2"})},
        Change{"AppendsToMergedSection", Lines({"[rename]", "a=1", "[o]", "[Rename]", "b=2"}),
               "rename", "nul", "C:\\X", 999, Lines({"[rename]", "a=1", "b=2", "nul=C:\\X", "[o]"}) + "\r\n"},
        Change{"NewSectionAtEnd", Lines({"; top", "[other]", "b=2"}), "rename", "nul", "C:\\X",
               999, Lines({"; top", "[other]", "b=2", "[rename]", "nul=C:\\X"})},
        Change{"HeadSectionIsNeverAddressed", Lines({"x=1"}), "", "x", "2", 0,
               Lines({"x=1", "[]", "x=2"})},
        Change{"RemoveMiddleEntry", Lines({"[s]", "a=1", "b=2", "c=3"}), "s", "B", nullptr, 0,
               Lines({"[s]", "a=1", "c=3"})},
        Change{"RemoveFirstEntry", Lines({"[s]", "a=1", "b=2"}), "s", "a", nullptr, 0,
               Lines({"[s]", "b=2"})},
        Change{"RemoveLastEntry", Lines({"[s]", "a=1", "b=2", "[t]", "c=3"}), "s", "b", nullptr,
               0, Lines({"[s]", "a=1", "[t]", "c=3"})},
        Change{"RemoveSecondOccurrence", Lines({"[s]", "a=1", "a=2", "a=3"}), "s", "a", nullptr,
               1, Lines({"[s]", "a=1", "a=3"})},
        Change{"RemoveOnlyEntryLeavesSection", Lines({"[s]", "a=1", "[t]", "c=3"}), "s", "a",
               nullptr, 0, Lines({"[s]", "[t]", "c=3"})},
        Change{"RemoveMissingEntryChangesNothing", Lines({"[s]", "a=1"}), "s", "zz", nullptr, 0,
               Lines({"[s]", "a=1"})},
        Change{"RemoveMiddleSection", Lines({"[a]", "x=1", "[b]", "y=2", "[c]", "z=3"}), "B",
               nullptr, nullptr, 0, Lines({"[a]", "x=1", "[c]", "z=3"})},
        Change{"RemoveFirstSection", Lines({"; top", "[a]", "x=1", "[b]", "y=2"}), "a", nullptr,
               nullptr, 0, Lines({"; top", "[b]", "y=2"})},
        Change{"RemoveLastSection", Lines({"[a]", "x=1", "[b]", "y=2"}), "b", nullptr, nullptr,
               0, Lines({"[a]", "x=1"})},
        Change{"RemoveMissingSectionChangesNothing", Lines({"[a]", "x=1"}), "b", nullptr,
               nullptr, 0, Lines({"[a]", "x=1"})},
        Change{"RemoveKeyOfMissingSectionLeavesEmptySection", Lines({"[a]", "x=1"}), "b", "k",
               nullptr, 0, Lines({"[a]", "x=1", "[b]"}) + "\r\n"},
        Change{"NoSectionChangesNothing", Lines({"[a]", "x=1"}), nullptr, "x", "2", 0,
               Lines({"[a]", "x=1"})}),
    [](const ::testing::TestParamInfo<Change>& info) { return std::string(info.param.name); });

TEST(IniDocument, MissingFileLoadsEmptyAndSaveCreatesIt) {
    sim::Workstation ws;
    IniDocument doc;
    EXPECT_EQ(doc.Load(kIniPath), 1);
    EXPECT_EQ(doc.head, nullptr);
    EXPECT_EQ(doc.sections, nullptr);
    doc.SetEntry("rename", "nul", "C:\\TOOLS\\WORM.EXE", 999);
    EXPECT_EQ(doc.Save(kIniPath), 0);
    EXPECT_EQ(ws.Read(kIniPath), "[rename]\r\nnul=C:\\TOOLS\\WORM.EXE");
}

TEST(IniDocument, LoadEmptiesTheDocumentFirst) {
    sim::Workstation ws;
    ws.File(kIniPath, "[a]\r\nx=1");
    IniDocument doc;
    ASSERT_EQ(doc.Load(kIniPath), 0);
    EXPECT_EQ(doc.Load("C:\\WINDOWS\\MISSING.INI"), 1);
    EXPECT_EQ(doc.head, nullptr);
    EXPECT_EQ(doc.sections, nullptr);
}

TEST(IniDocument, SaveToReadOnlyFileFailsAndLeavesIt) {
    const std::string original = "[rename]\r\nnul=C:\\A.EXE\r\n";
    sim::Workstation ws;
    ws.File(kIniPath, original, FILE_ATTRIBUTE_READONLY);
    IniDocument doc;
    ASSERT_EQ(doc.Load(kIniPath), 0);
    doc.SetEntry("rename", "nul", "C:\\B.EXE", 999);
    EXPECT_EQ(doc.Save(kIniPath), 1);
    EXPECT_EQ(ws.Read(kIniPath), original);
}

TEST(IniDocument, SaveIntoMissingFolderFails) {
    sim::Workstation ws;
    IniDocument doc;
    doc.SetEntry("rename", "nul", "C:\\B.EXE", 999);
    EXPECT_EQ(doc.Save("C:\\NOWHERE\\WININIT.INI"), 1);
    EXPECT_FALSE(ws.Exists("C:\\NOWHERE\\WININIT.INI"));
}

// A save that did not reach the disk must not be taken for a scheduled rename.
TEST(IniDocument, SaveReportsFailedWriteOrClose) {
    for (const char* fault : {"CrtWrite", "CrtClose"}) {
        SCOPED_TRACE(fault);
        sim::Workstation ws;
        ws.FailCall(fault, ERROR_ACCESS_DENIED);
        IniDocument doc;
        doc.SetEntry("rename", "nul", "C:\\B.EXE", 999);
        EXPECT_EQ(doc.Save(kIniPath), 1);
    }
}

// Without memory for the line, half a WININIT.INI saved back would lose the
// rest: the load reports failure and holds nothing.
TEST(IniDocument, LoadWithoutMemoryForTheLineFails) {
    for (int callsToSkip : {0, 1}) {
        SCOPED_TRACE(callsToSkip);
        sim::Workstation ws;
        ws.File(kIniPath, Lines({"[rename]", "nul=C:\\A.EXE", "k=" + kLongValue, "b=2"}));
        ws.FailCall("AllocBuffer", 0, callsToSkip);
        IniDocument doc;
        EXPECT_EQ(doc.Load(kIniPath), 1);
        EXPECT_EQ(doc.head, nullptr);
        EXPECT_EQ(doc.sections, nullptr);
    }
}

// What SetEntry never asks of the node operations: the predecessor when
// nothing matches, and a search without a key.
TEST(IniNodes, PredecessorOfNoMatchIsLastNode) {
    IniSection* sections = AppendNode<IniSection>(nullptr, new IniSection("a"));
    sections = AppendNode(sections, new IniSection("b"));
    IniSection* sectionBefore = nullptr;
    EXPECT_EQ(FindSection(sections, "c", &sectionBefore), nullptr);
    EXPECT_EQ(sectionBefore, sections->next);
    EXPECT_EQ(FindSection(sections, "B", &sectionBefore), sections->next);
    EXPECT_EQ(sectionBefore, sections);

    IniSection* s = sections;
    s->entries = AppendNode<IniEntry>(nullptr, new IniEntry("k", "1"));
    s->entries = AppendNode(s->entries, new IniEntry(nullptr, "; plain"));
    IniEntry* entryBefore = nullptr;
    EXPECT_EQ(FindEntry(s->entries, "k", &entryBefore, 1), nullptr);
    EXPECT_EQ(entryBefore, s->entries->next);
    entryBefore = s->entries;
    EXPECT_EQ(FindEntry(s->entries, nullptr, &entryBefore, 0), nullptr);
    EXPECT_EQ(entryBefore, s->entries->next);

    while (sections) {
        IniSection* first = sections;
        sections = UnlinkNode<IniSection>(sections, nullptr);
        EXPECT_EQ(first->next, nullptr);
        delete first;
    }
}

}  // namespace
