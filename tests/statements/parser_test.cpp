// The lexer, step splitting, the model-effect parser and the parser's error reports.
#include <gtest/gtest.h>

#include "../driver/step_fixture.h"
#include "statements/lexer.h"

namespace velloc::testing {
namespace {

using host::TokenKind;

TEST(Lexer, TokensCommentsAndPositions) {
    auto t = host::lex("a /* c */ 'it''s' 1e-3 .5 . x1-x2;\n* skipped; b lib.mem \"q\"");
    std::vector<TokenKind> kinds;
    for (const auto& k : t)
        kinds.push_back(k.kind);
    EXPECT_EQ(kinds, (std::vector<TokenKind>{TokenKind::Name, TokenKind::String, TokenKind::Number,
                                             TokenKind::Number, TokenKind::Missing, TokenKind::Name,
                                             TokenKind::Punct, TokenKind::Name, TokenKind::Semi,
                                             TokenKind::Name, TokenKind::Compound,
                                             TokenKind::String, TokenKind::End}));
    EXPECT_EQ(t[1].text, "it's");
    EXPECT_DOUBLE_EQ(t[2].number, 0.001);
    EXPECT_FALSE(t[2].integer);
    EXPECT_DOUBLE_EQ(t[3].number, 0.5);
    EXPECT_EQ(t[9].upper, "B");
    EXPECT_EQ(t[9].line, 2);
    EXPECT_EQ(t[9].column, 12);
    EXPECT_EQ(t[10].text, "lib.mem");
}

TEST(Lexer, BadInputBecomesBadTokens) {
    auto t = host::lex("'open");
    EXPECT_EQ(t[0].kind, TokenKind::Bad);
    auto u = host::lex("3abc # ok");
    EXPECT_EQ(u[0].kind, TokenKind::Bad);
    EXPECT_EQ(u[1].kind, TokenKind::Bad);
    // A comment never closed is a token where it opens, not the silent end of the program.
    auto c = host::lex("a;\n  /* open\nb;\n");
    ASSERT_EQ(c.size(), 4u);
    EXPECT_EQ(c[2].kind, TokenKind::Bad);
    EXPECT_EQ(c[2].line, 2);
    EXPECT_EQ(c[2].column, 3);
    EXPECT_NE(c[2].describe().find("never closed"), std::string::npos) << c[2].describe();
    EXPECT_EQ(c[3].kind, TokenKind::End);
    auto closed = host::lex("a /* shut */ b");
    EXPECT_EQ(closed.size(), 3u);
}

TEST(SplitProgram, StepsAndStrayText) {
    std::ostringstream log;
    host::Log::setStream(&log);
    int errors = 0;
    auto steps = splitProgram("/* head */ proc velloc data=a; class t;\nrun;\n"
                              "stray statement;\n  PROC VELLOC data=b; psmodel t=x;\n"
                              "proc velloc data=c;",
                              "p.vlc", &errors);
    host::Log::setStream(nullptr);
    ASSERT_EQ(steps.size(), 3u);
    EXPECT_EQ(steps[0].text, "proc velloc data=a; class t;\nrun;");
    EXPECT_EQ(steps[0].firstLine, 1);
    EXPECT_EQ(steps[0].firstColumn, 12);
    EXPECT_EQ(steps[1].text, "PROC VELLOC data=b; psmodel t=x;\n");
    EXPECT_EQ(steps[1].firstLine, 4);
    EXPECT_EQ(steps[1].firstColumn, 3);
    EXPECT_EQ(steps[2].text, "proc velloc data=c;");
    EXPECT_EQ(errors, 1);
    EXPECT_NE(log.str().find("p.vlc, line 3, column 1"), std::string::npos) << log.str();
}

TEST(Effects, BarExpansionWithOrderLimit) {
    // a|b|c@2 -> a b a*b c a*c b*c ; the triple crossing exceeds the limit.
    std::vector<Effect> terms{{{1}, {}}, {{2}, {}}, {{3}, {}}};
    std::vector<Effect> want{{{1}, {}}, {{2}, {}},    {{1, 2}, {}},
                             {{3}, {}}, {{1, 3}, {}}, {{2, 3}, {}}};
    EXPECT_EQ(expandBar(terms, 2), want);
    want.push_back({{1, 2, 3}, {}});
    EXPECT_EQ(expandBar(terms, 0), want);
}

TEST(Effects, ParsedFromPsmodel) {
    StepResult r = runStep("class treat gender race; psmodel treat = x1|x2|x3@2 bmi(gender) "
                           "age*gender*age race*race*x1 gender|race;");
    ASSERT_EQ(r.exitCode, -1) << r.log;
    std::vector<std::string> text;
    for (const Effect& e : r.run->effects)
        text.push_back(describeEffect(e, *r.data));
    // A continuous variable repeated in a crossing is its power; a repeated CLASS variable
    // counts once.
    EXPECT_EQ(text, (std::vector<std::string>{"x1", "x2", "x1*x2", "x3", "x1*x3", "x2*x3",
                                              "bmi(gender)", "age*gender*age", "race*x1", "gender",
                                              "race", "gender*race"}));
    // Model numeric variables in order of appearance.
    std::vector<std::string> cont;
    for (const VarRef& v : r.run->analysisVars)
        cont.push_back(v.name);
    EXPECT_EQ(cont, (std::vector<std::string>{"x1", "x2", "x3", "bmi", "age"}));
    EXPECT_EQ(r.run->nModelCont, 5);
}

TEST(Parser, ErrorsNameThePlaceAndSuggest) {
    struct Case {
        const char* body;
        const char* expect;
        int errors;
    };
    const Case cases[] = {
        {"class treat; psmodel treat = age; match calipr=0.2;", "Did you mean CALIPER?", 1},
        {"class treat; psmodel treat = agee;",
         "the variable agee (in PSMODEL) is not in the "
         "data set study.csv. Did you mean age?",
         1},
        {"class treat; psmodel treat = age; mach;", "Did you mean MATCH?", 1},
        {"class treat; psmodel treat = age; match method=gredy;",
         "gredy is not a value of METHOD=; expected one of GREEDY, REPLACE, OPTIMAL, VARRATIO "
         "or FULL. Did you mean GREEDY?",
         1},
        {"class treat; psmodel treat = age; match caliper=;", "line 2, column 49", 1},
        {"class treat; psmodel treat = age; assess varinfo;", "VARINFO belongs after the '/'", 1},
        {"class treat; psmodel treat = age; strata nstrata=3 equal;", "equal is not an option", 1},
        {"clas treat; psmodel treat = age; match k=2;", "Did you mean CLASS?", 2},
        {"class treat; psmodel treat = age|bmi@0;", "a positive whole number after '@'", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        StepResult r = runStep(c.body);
        EXPECT_EQ(r.exitCode, c.errors) << r.log;
        EXPECT_NE(r.log.find(c.expect), std::string::npos) << r.log;
        EXPECT_NE(r.log.find("test.vlc, line"), std::string::npos) << r.log;
    }
}

TEST(Parser, VariableListsResolve) {
    StepResult r = runStep("class treat; psmodel treat = age; by descending gender x1-x3 / "
                           "notsorted; id _character_;");
    ASSERT_EQ(r.exitCode, -1) << r.log;
    ASSERT_EQ(r.run->byVars.size(), 4u);
    EXPECT_EQ(r.run->byVars[0].name, "gender");
    EXPECT_TRUE(r.run->byDescending[0]);
    EXPECT_FALSE(r.run->byDescending[1]);
    EXPECT_EQ(r.run->byVars[3].name, "x3");
    EXPECT_EQ(r.data->by.size(), 4u);
    EXPECT_TRUE(r.data->byNotSorted);
    EXPECT_TRUE(r.data->by[0].descending);
    // _CHARACTER_ gives exactly five ID variables, which no listing uses.
    EXPECT_FALSE(r.logged(212));
    EXPECT_TRUE(r.logged(213));
}

TEST(Parser, TreatedLevelForms) {
    StepResult q = runStep("class treat; psmodel treat(treated='  Yes') = age;");
    EXPECT_EQ(q.run->treatedTextLen, 3);
    EXPECT_EQ(q.run->treatedText.substr(0, 4), "Yes ");
    EXPECT_EQ(q.run->treatedText.size(), 76u);
    StepResult l = runStep("class treat; psmodel treat(treated=last) = age;");
    EXPECT_EQ(l.run->treatedLast, 1);
    StepResult d = runStep("class treat; psdata treatvar=treat(treated=last) ps=ps;");
    EXPECT_EQ(d.run->treatedLast, 1);
    EXPECT_EQ(d.run->psSupplied, 1);
    EXPECT_EQ(d.run->psSource, 100);
}

TEST(Parser, DebugTracesBothStages) {
    host::Session::current().options.traceSyntax = true;
    host::Session::current().options.traceSemantic = true;
    StepResult r = runStep("class treat; psmodel treat = age; match method=greedy(k=2);");
    host::Session::current().options.traceSyntax = false;
    host::Session::current().options.traceSemantic = false;
    EXPECT_NE(r.log.find("SYN: statement MATCH"), std::string::npos) << r.log;
    EXPECT_NE(r.log.find("SYN:   METHOD/GREEDY/K=2"), std::string::npos) << r.log;
    EXPECT_NE(r.log.find("SEM: PSMODEL record"), std::string::npos) << r.log;
}

TEST(Grammar, EveryKeywordIsInTheVocabulary) {
    const host::Grammar& g = vlcg();
    std::vector<std::string> known = g.keywords;
    known.insert(known.end(), g.secondary.begin(), g.secondary.end());
    auto check = [&](const std::string& w) {
        EXPECT_NE(std::find(known.begin(), known.end(), w), known.end()) << w;
    };
    std::function<void(const std::vector<host::OptionSpec>&)> walk =
        [&](const std::vector<host::OptionSpec>& specs) {
            for (const auto& s : specs) {
                check(s.name);
                for (const auto& a : s.aliases)
                    check(a);
                walk(s.pre);
                walk(s.choices);
                walk(s.group);
                walk(s.post);
            }
        };
    for (const auto& st : g.statements) {
        if (st.name != "VELLOC") check(st.name);
        walk(st.options);
        walk(st.after);
    }
}

} // namespace
} // namespace velloc::testing
