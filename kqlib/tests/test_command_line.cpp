#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "kqCommandLine.h"

namespace {

struct ExpectedToken
{
    bool bSwitch;
    const wchar_t* pszText;
    const wchar_t* pszRaw;
};

std::vector<ExpectedToken> Tokens(std::initializer_list<ExpectedToken> tokens) { return tokens; }

void ExpectTokens(const CCommandLine& parser, const std::vector<ExpectedToken>& expected)
{
    const std::vector<CommandLineToken>& tokens = parser.GetTokens();
    ASSERT_EQ(expected.size(), tokens.size());
    for (size_t i = 0; i < tokens.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(expected[i].bSwitch, tokens[i].IsSwitch);
        EXPECT_EQ(std::wstring(expected[i].pszText), tokens[i].Text);
        EXPECT_EQ(std::wstring(expected[i].pszRaw), tokens[i].Raw);
    }
}

CCommandLine Parsed(const wchar_t* pszLine)
{
    CCommandLine parser;
    EXPECT_TRUE(parser.Parse(pszLine, L"/-")) << pszLine;
    return parser;
}

struct ParseCase
{
    const wchar_t* pszName;
    const wchar_t* pszLine;
    const wchar_t* pszPrefixes;
    bool bResult;
    std::vector<ExpectedToken> tokens;
};

class CommandLineParse : public testing::TestWithParam<ParseCase>
{
};

TEST_P(CommandLineParse, GivesTokens)
{
    const ParseCase& test = GetParam();
    CCommandLine parser;
    EXPECT_EQ(test.bResult, parser.Parse(test.pszLine, test.pszPrefixes));
    ExpectTokens(parser, test.tokens);
}

const ParseCase kParseCases[] = {
    {L"QuotedPathsAndSwitches", LR"("C:\Program Files\App\setup.exe" /MEDIA "D:\Some  Folder\pkg" -x)", L"/-", true,
     Tokens({{false, LR"(C:\Program Files\App\setup.exe)", LR"("C:\Program Files\App\setup.exe")"},
             {true, L"MEDIA", L"/MEDIA"},
             {false, LR"(D:\Some  Folder\pkg)", LR"("D:\Some  Folder\pkg")"},
             {true, L"x", L"-x"}})},
    {L"SpaceRunsSeparateAsOne", L"   a    b   ", L"/-", true,
     Tokens({{false, L"a", L"a"}, {false, L"b", L"b"}})},
    {L"TabIsNoSeparator", L"a\tb c", L"/-", true, Tokens({{false, L"a\tb", L"a\tb"}, {false, L"c", L"c"}})},
    {L"OnlySpaces", L"   ", L"/-", true, Tokens({})},
    {L"OnePrefixCharacterDropped", L"--x /-y //z", L"/-", true,
     Tokens({{true, L"-x", L"--x"}, {true, L"-y", L"/-y"}, {true, L"/z", L"//z"}})},
    {L"NoNameValueForm", L"/name=value -a:b", L"/-", true,
     Tokens({{true, L"name=value", L"/name=value"}, {true, L"a:b", L"-a:b"}})},
    {L"QuotedPrefixIsValue", L"\"/x\" \"-5\"", L"/-", true,
     Tokens({{false, L"/x", L"\"/x\""}, {false, L"-5", L"\"-5\""}})},
    {L"UnquotedDashOrSlashValueIsSwitch", L"/OFFSET -5 /ROOT /usr/lib", L"/-", true,
     Tokens({{true, L"OFFSET", L"/OFFSET"}, {true, L"5", L"-5"}, {true, L"ROOT", L"/ROOT"},
             {true, L"usr/lib", L"/usr/lib"}})},
    {L"PrefixSetDecides", L"-x /y", L"/", true, Tokens({{false, L"-x", L"-x"}, {true, L"y", L"/y"}})},
    {L"EmptyQuotedValue", L"/MEDIA \"\"", L"/-", true,
     Tokens({{true, L"MEDIA", L"/MEDIA"}, {false, L"", L"\"\""}})},
    {L"AllOuterQuotesStripped", L"\"\"x\"\" \"\"\"", L"/-", true,
     Tokens({{false, L"x", L"\"\"x\"\""}, {false, L"", L"\"\"\""}})},
    {L"LoneQuoteOpensSpan", L"a \" b  c\" d", L"/-", true,
     Tokens({{false, L"a", L"a"}, {false, L" b  c", L"\" b  c\""}, {false, L"d", L"d"}})},
    {L"TextAfterClosingQuoteIsNewToken", L"\"a b\"c", L"/-", true,
     Tokens({{false, L"a b", L"\"a b\""}, {false, L"c", L"c"}})},
    {L"InnerQuotesOfUnquotedTokenKept", L"a\"b c\"d", L"/-", true,
     Tokens({{false, L"a\"b", L"a\"b"}, {false, L"c\"d", L"c\"d"}})},
    // The quote inside the first word does not close it: the span runs to the next quote
    // after the space.
    {L"QuoteInsideOpeningWordDoesNotClose", L"\"ab\"c \"d e\"", L"/-", true,
     Tokens({{false, L"ab\"c ", L"\"ab\"c \""}, {false, L"d", L"d"}, {false, L"e\"", L"e\""}})},
    {L"BackslashBeforeClosingQuoteKept", L"/DIR \"C:\\Program Files\\App\\\"", L"/-", true,
     Tokens({{true, L"DIR", L"/DIR"}, {false, L"C:\\Program Files\\App\\", L"\"C:\\Program Files\\App\\\""}})},
    {L"UnterminatedQuoteLeavesNoTokens", L"a /b \"c d", L"/-", false, Tokens({})},
    {L"UnterminatedQuoteAtEnd", L"a /b \"c", L"/-", false, Tokens({})},
    {L"LoneQuoteAtEnd", L"a \"", L"/-", false, Tokens({})},
    {L"LonePrefixKeepsTokensBefore", L"a / b", L"/-", false, Tokens({{false, L"a", L"a"}})},
    {L"LoneDashKeepsTokensBefore", L"/x 1 - b", L"/-", false,
     Tokens({{true, L"x", L"/x"}, {false, L"1", L"1"}})},
    {L"EmptyLine", L"", L"/-", false, Tokens({})},
    {L"EmptyPrefixSet", L"/x", L"", false, Tokens({})},
    {L"AbsentLine", nullptr, L"/-", false, Tokens({})},
    {L"AbsentPrefixSet", L"/x", nullptr, false, Tokens({})},
};

INSTANTIATE_TEST_SUITE_P(Cases, CommandLineParse, testing::ValuesIn(kParseCases),
                         [](const testing::TestParamInfo<ParseCase>& info) {
                             std::wstring name = info.param.pszName;
                             return std::string(name.begin(), name.end());
                         });

TEST(CommandLine, FailedArgumentsLeaveTokensAsTheyWere)
{
    CCommandLine parser = Parsed(L"/A 1");
    EXPECT_FALSE(parser.Parse(L"", L"/-"));
    EXPECT_FALSE(parser.Parse(L"/B", L""));
    EXPECT_FALSE(parser.Parse(nullptr, L"/-"));
    ExpectTokens(parser, Tokens({{true, L"A", L"/A"}, {false, L"1", L"1"}}));
}

TEST(CommandLine, ParseAgainReplacesTokens)
{
    CCommandLine parser = Parsed(L"/A 1");
    ASSERT_TRUE(parser.Parse(L"/B", L"/-"));
    EXPECT_FALSE(parser.HasSwitch(L"A"));
    ExpectTokens(parser, Tokens({{true, L"B", L"/B"}}));
    // A failed split empties the list too.
    EXPECT_FALSE(parser.Parse(L"/C \"x", L"/-"));
    EXPECT_TRUE(parser.GetTokens().empty());
}

TEST(CommandLine, HasSwitchIgnoresCaseAndValues)
{
    CCommandLine parser = Parsed(L"prog.exe /MEDIA -Media");
    EXPECT_TRUE(parser.HasSwitch(L"media"));
    EXPECT_TRUE(parser.HasSwitch(L"MeDiA"));
    EXPECT_FALSE(parser.HasSwitch(L"medi"));
    EXPECT_FALSE(parser.HasSwitch(L"mediax"));

    CCommandLine values = Parsed(L"prog.exe \"/MEDIA\" MEDIA \"MEDIA\"");
    EXPECT_FALSE(values.HasSwitch(L"media"));
    EXPECT_FALSE(values.HasSwitch(L"prog.exe"));
}

TEST(CommandLine, SilentSwitchesInAnyCase)
{
    const wchar_t* const silent[] = {L"qn", L"q"};
    const wchar_t* const reduced[] = {L"qb", L"qr"};
    EXPECT_TRUE(Parsed(L"setup.exe /q").HasAnySwitch(silent, 2));
    EXPECT_TRUE(Parsed(L"setup.exe /QN").HasAnySwitch(silent, 2));
    EXPECT_FALSE(Parsed(L"setup.exe /QN").HasAnySwitch(reduced, 2));
    EXPECT_TRUE(Parsed(L"setup.exe -qb").HasAnySwitch(reduced, 2));
    EXPECT_FALSE(Parsed(L"setup.exe /qbx").HasAnySwitch(reduced, 2));
    EXPECT_FALSE(Parsed(L"setup.exe /q").HasAnySwitch(silent, 0));
    EXPECT_FALSE(Parsed(L"setup.exe /q").HasAnySwitch(nullptr, 2));
}

TEST(CommandLine, SwitchFollowedBySwitchHasNoValue)
{
    CCommandLine parser = Parsed(L"setup.exe /RUNONCE /PRODID /x");
    EXPECT_TRUE(parser.HasSwitch(L"PRODID"));
    EXPECT_EQ(nullptr, parser.GetValue(L"PRODID"));
    std::vector<std::wstring> values;
    EXPECT_FALSE(parser.GetValues(L"prodid", values));
    EXPECT_TRUE(values.empty());

    CCommandLine last = Parsed(L"setup.exe /MEDIA");
    EXPECT_TRUE(last.HasSwitch(L"MEDIA"));
    EXPECT_EQ(nullptr, last.GetValue(L"MEDIA"));
}

TEST(CommandLine, ValuesOfRepeatedSwitch)
{
    CCommandLine parser = Parsed(L"/A 1 /B /a 2");
    std::vector<std::wstring> values = {L"stale"};
    ASSERT_TRUE(parser.GetValues(L"A", values));
    EXPECT_EQ((std::vector<std::wstring>{L"1", L"2"}), values);
    ASSERT_NE(nullptr, parser.GetValue(L"a"));
    EXPECT_STREQ(L"1", parser.GetValue(L"a"));

    EXPECT_FALSE(parser.GetValues(L"B", values));
    EXPECT_TRUE(values.empty());
    EXPECT_EQ(nullptr, parser.GetValue(L"B"));
}

TEST(CommandLine, DuplicateSwitchFirstValueWins)
{
    CCommandLine parser = Parsed(L"setup.exe /MEDIA first.exe /media \"second one.exe\"");
    ASSERT_NE(nullptr, parser.GetValue(L"MEDIA"));
    EXPECT_STREQ(L"first.exe", parser.GetValue(L"MEDIA"));
}

TEST(CommandLine, LaterOccurrenceWithoutValueFailsTheLookup)
{
    CCommandLine parser = Parsed(L"/A 1 /A");
    std::vector<std::wstring> values;
    EXPECT_FALSE(parser.GetValues(L"A", values));
    EXPECT_EQ((std::vector<std::wstring>{L"1"}), values);
    EXPECT_EQ(nullptr, parser.GetValue(L"A"));
}

TEST(CommandLine, AbsentSwitchHasNoValues)
{
    CCommandLine parser = Parsed(L"/A 1");
    std::vector<std::wstring> values = {L"stale"};
    EXPECT_TRUE(parser.GetValues(L"Z", values));
    EXPECT_TRUE(values.empty());
    EXPECT_EQ(nullptr, parser.GetValue(L"Z"));
}

TEST(CommandLine, EmptyOrAbsentNameFails)
{
    CCommandLine parser = Parsed(L"/A 1");
    std::vector<std::wstring> values;
    EXPECT_FALSE(parser.HasSwitch(L""));
    EXPECT_FALSE(parser.HasSwitch(nullptr));
    EXPECT_FALSE(parser.GetValues(L"", values));
    EXPECT_FALSE(parser.GetValues(nullptr, values));
    EXPECT_EQ(nullptr, parser.GetValue(L""));
    EXPECT_EQ(nullptr, parser.GetValue(nullptr));
}

TEST(CommandLine, EmptyQuotedValueIsPresentAndEmpty)
{
    CCommandLine parser = Parsed(L"setup.exe /MEDIA \"\" /q");
    ASSERT_NE(nullptr, parser.GetValue(L"MEDIA"));
    EXPECT_STREQ(L"", parser.GetValue(L"MEDIA"));
}

TEST(CommandLine, ValueTextOutlivesLookup)
{
    CCommandLine parser = Parsed(L"/DEFLANG 1033 /SHOWERRORS 0");
    const wchar_t* pszLang = parser.GetValue(L"DEFLANG");
    const wchar_t* pszErrors = parser.GetValue(L"SHOWERRORS");
    ASSERT_NE(nullptr, pszLang);
    ASSERT_NE(nullptr, pszErrors);
    EXPECT_STREQ(L"1033", pszLang);
    EXPECT_STREQ(L"0", pszErrors);
}

// The scheduling tool walks the tokens itself and keeps each value as it was typed.
TEST(CommandLine, SchedulingToolLineKeepsRawQuotes)
{
    CCommandLine parser = Parsed(
        L"Cronwick.exe orphan /guid \"{6F9619FF-8B86-D011-B42D-00C04FC964FF}\" /name \"Nightly job\" "
        L"-scheduleType 1 /interval 15 /disable /runOnce 1 /name B");
    const std::vector<CommandLineToken>& tokens = parser.GetTokens();
    ASSERT_EQ(15u, tokens.size());
    // A value before any switch is an ordinary value token.
    EXPECT_FALSE(tokens[1].IsSwitch);
    EXPECT_EQ(L"orphan", tokens[1].Raw);
    EXPECT_EQ(L"\"{6F9619FF-8B86-D011-B42D-00C04FC964FF}\"", tokens[3].Raw);
    EXPECT_EQ(L"{6F9619FF-8B86-D011-B42D-00C04FC964FF}", tokens[3].Text);
    EXPECT_EQ(L"\"Nightly job\"", tokens[5].Raw);
    EXPECT_EQ(L"Nightly job", tokens[5].Text);
    EXPECT_TRUE(tokens[6].IsSwitch);
    EXPECT_EQ(L"scheduleType", tokens[6].Text);
    EXPECT_EQ(L"-scheduleType", tokens[6].Raw);

    EXPECT_TRUE(parser.HasSwitch(L"disable"));
    EXPECT_EQ(nullptr, parser.GetValue(L"disable"));
    ASSERT_NE(nullptr, parser.GetValue(L"RUNONCE"));
    EXPECT_STREQ(L"1", parser.GetValue(L"RUNONCE"));
    std::vector<std::wstring> names;
    ASSERT_TRUE(parser.GetValues(L"name", names));
    EXPECT_EQ((std::vector<std::wstring>{L"Nightly job", L"B"}), names);
}

TEST(CommandLine, ParsesOwnProcessLine)
{
    CCommandLine parser;
    ASSERT_TRUE(parser.Parse());
    const std::vector<CommandLineToken>& tokens = parser.GetTokens();
    ASSERT_FALSE(tokens.empty());
    EXPECT_FALSE(tokens[0].IsSwitch);
    const std::wstring strSuffix = L"test_command_line.exe";
    ASSERT_GE(tokens[0].Text.size(), strSuffix.size());
    EXPECT_EQ(0, _wcsicmp(tokens[0].Text.c_str() + tokens[0].Text.size() - strSuffix.size(), strSuffix.c_str()))
        << tokens[0].Text;
    // ctest passes --gtest_color=no: one dash is the prefix, the other stays.
    EXPECT_TRUE(parser.HasSwitch(L"-GTEST_COLOR=NO"));
}

// Where the parser and the shell's own splitting agree, and where (by design) they do not.
struct ShellCase
{
    const wchar_t* pszName;
    const wchar_t* pszArgs;
    bool bParses;
    bool bSameAsShell;
    std::vector<const wchar_t*> ours;  // the arguments after the program: switch Raw, value Text
};

class CommandLineVersusShell : public testing::TestWithParam<ShellCase>
{
};

std::vector<std::wstring> ShellArguments(const std::wstring& strLine)
{
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(strLine.c_str(), &argc);
    std::vector<std::wstring> args;
    if (argv) {
        for (int i = 1; i < argc; ++i)
            args.push_back(argv[i]);
        LocalFree(argv);
    }
    return args;
}

TEST_P(CommandLineVersusShell, TokenByToken)
{
    const ShellCase& test = GetParam();
    const std::wstring strLine = std::wstring(L"prog.exe ") + test.pszArgs;
    std::vector<std::wstring> shell = ShellArguments(strLine);

    CCommandLine parser;
    ASSERT_EQ(test.bParses, parser.Parse(strLine.c_str(), L"/-"));
    if (!test.bParses)
        return;
    std::vector<std::wstring> ours;
    const std::vector<CommandLineToken>& tokens = parser.GetTokens();
    ASSERT_FALSE(tokens.empty());
    EXPECT_EQ(L"prog.exe", tokens[0].Text);
    for (size_t i = 1; i < tokens.size(); ++i)
        ours.push_back(tokens[i].IsSwitch ? tokens[i].Raw : tokens[i].Text);

    EXPECT_EQ(std::vector<std::wstring>(test.ours.begin(), test.ours.end()), ours);
    if (test.bSameAsShell)
        EXPECT_EQ(shell, ours);
    else
        EXPECT_NE(shell, ours);
}

const ShellCase kShellCases[] = {
    {L"PlainWords", L"a b  c", true, true, {L"a", L"b", L"c"}},
    {L"QuotedSpaces", L"\"a  b\"   \"c\"", true, true, {L"a  b", L"c"}},
    {L"QuotedSwitchValue", L"/PATH \"C:\\Program Files\\x\" -q", true, true,
     {L"/PATH", L"C:\\Program Files\\x", L"-q"}},
    {L"EmptyQuoted", L"/MEDIA \"\"", true, true, {L"/MEDIA", L""}},
    {L"LeadingSpaceInQuotes", L"\" spaced \" x", true, true, {L" spaced ", L"x"}},
    {L"QuotedPrefix", L"\"/x\"", true, true, {L"/x"}},
    // The shell reads \" as an escaped quote; the parser keeps a folder's last backslash.
    {L"TrailingBackslashInQuotes", L"\"C:\\Program Files\\App\\\" /q", true, false,
     {L"C:\\Program Files\\App\\", L"/q"}},
    {L"EscapedQuotesUnquoted", L"\\\"x\\\"", true, false, {L"\\\"x\\\""}},
    {L"DoubleBackslashBeforeQuote", L"a\\\\\"b c\"", true, false, {L"a\\\\\"b", L"c\""}},
    {L"TabSeparatesOnlyForShell", L"a\tb", true, false, {L"a\tb"}},
    {L"QuoteClosedMidWord", L"\"a b\"c", true, false, {L"a b", L"c"}},
    {L"QuotesInsideWord", L"a\"b c\"d", true, false, {L"a\"b", L"c\"d"}},
    {L"DoubledQuotesAround", L"\"\"x\"\"", true, true, {L"x"}},
    // The shell closes an open quote at the end of the line; the parser refuses the line.
    {L"UnterminatedQuote", L"/x \"open end", false, false, {}},
};

INSTANTIATE_TEST_SUITE_P(Cases, CommandLineVersusShell, testing::ValuesIn(kShellCases),
                         [](const testing::TestParamInfo<ShellCase>& info) {
                             std::wstring name = info.param.pszName;
                             return std::string(name.begin(), name.end());
                         });

}  // namespace
