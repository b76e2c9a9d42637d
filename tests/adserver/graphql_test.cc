#include "tools/adserver/graphql.h"

#include <gtest/gtest.h>

#include <string>

namespace adserver::graphql {
namespace {

using Kind = Value::Kind;

TEST(GraphqlParse, OperationFieldArgumentsAndNestedSelection) {
  auto doc = parse(R"(query MyQuery {
    requestAd(input: {uid: "u1" unit: "demo-banner", size: {h: 844.0, w: 390.0}, portrait: true,
                      reqAt: 1500, theme: DARK, tags: ["a", 1, null], none: null}) {
      id
      profile { displayName link }
      creativeSize { w h }
    }
  })");
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->operationType, "query");
  EXPECT_EQ(doc->operationName, "MyQuery");
  ASSERT_EQ(doc->selection.size(), 1u);
  const Field& f = doc->selection[0];
  EXPECT_EQ(f.name, "requestAd");
  const Value* input = f.argument("input");
  ASSERT_NE(input, nullptr);
  ASSERT_EQ(input->kind, Kind::kObject);
  EXPECT_EQ(input->find("uid")->text + " " + input->find("unit")->text, "u1 demo-banner");
  const Value* size = input->find("size");
  ASSERT_EQ(size->kind, Kind::kObject);
  EXPECT_EQ(size->find("h")->kind, Kind::kFloat);
  EXPECT_DOUBLE_EQ(size->find("h")->floatValue, 844.0);
  EXPECT_EQ(size->find("w")->text, "390.0");
  EXPECT_EQ(input->find("portrait")->kind, Kind::kBool);
  EXPECT_TRUE(input->find("portrait")->boolValue);
  EXPECT_EQ(input->find("reqAt")->kind, Kind::kInt);
  EXPECT_EQ(input->find("reqAt")->intValue, 1500);
  EXPECT_EQ(input->find("theme")->kind, Kind::kEnum);
  EXPECT_EQ(input->find("theme")->text, "DARK");
  const Value* tags = input->find("tags");
  ASSERT_EQ(tags->list.size(), 3u);
  EXPECT_EQ(tags->list[1].kind, Kind::kInt);
  EXPECT_EQ(tags->list[2].kind, Kind::kNull);
  EXPECT_EQ(input->find("none")->kind, Kind::kNull);
  EXPECT_EQ(input->find("absent"), nullptr);

  ASSERT_EQ(f.selection.size(), 3u);
  EXPECT_EQ(f.selection[0].name, "id");
  EXPECT_TRUE(f.selection[0].selection.empty());
  ASSERT_EQ(f.selection[1].selection.size(), 2u);
  EXPECT_EQ(f.selection[1].selection[1].name, "link");
}

TEST(GraphqlParse, ShorthandMutationAliasesCommentsAndCommas) {
  auto anon = parse("{ a, b, , c }");
  ASSERT_TRUE(anon);
  EXPECT_EQ(anon->operationType, "query");
  EXPECT_EQ(anon->selection.size(), 3u);

  auto doc = parse(
      "# leading comment\nmutation OrvexMutaion {\n  ok: invoke(input: {key: \"K\",,, time: "
      "-3}) { message } # trailing\n}");
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->operationType, "mutation");
  const Field& f = doc->selection[0];
  EXPECT_EQ(f.alias, "ok");
  EXPECT_EQ(f.name, "invoke");
  EXPECT_EQ(f.responseKey(), "ok");
  EXPECT_EQ(f.argument("input")->find("time")->intValue, -3);
}

TEST(GraphqlParse, StringEscapesAndNumbers) {
  auto doc = parse(R"({ f(s: "q\"b\\s\/n\nt\tu\u00e9\u20AC\uD83D\uDE00") })");
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->selection[0].argument("s")->text,
            "q\"b\\s/n\nt\tu\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");

  // Device facts arrive as JSON text with escaped quotes inside a GraphQL string.
  auto meta = parse(R"({ f(m: "{\"platform\":\"ios\",\"w\":390}") })");
  ASSERT_TRUE(meta);
  EXPECT_EQ(meta->selection[0].argument("m")->text, R"({"platform":"ios","w":390})");

  auto numbers = parse("{ f(a: 0, b: -0.5, c: 1e3, d: 2.5E-2) }");
  ASSERT_TRUE(numbers);
  const Field& f = numbers->selection[0];
  EXPECT_EQ(f.argument("a")->kind, Kind::kInt);
  EXPECT_DOUBLE_EQ(f.argument("b")->floatValue, -0.5);
  EXPECT_EQ(f.argument("c")->kind, Kind::kFloat);
  EXPECT_DOUBLE_EQ(f.argument("d")->floatValue, 0.025);
}

TEST(GraphqlParse, RejectsMalformedDocuments) {
  for (const char* bad :
       {"", "   ", "query", "query Q", "query Q {", "query Q { }", "query Q { a } extra",
        "query Q { a } { b }", "subscribe { a }", "{ a(x: ) }", "{ a() }", "{ a(x: 1 }",
        "{ a(x: {y: 1) }", "{ a(x: [1, 2) }", "{ a(x: {y: 1, y: 2}) }", "{ a(x: \"unterminated) }",
        "{ a(x: \"line\nbreak\") }", "{ a(x: \"\\q\") }", "{ a(x: \"\\u12\") }",
        "{ a(x: \"\\uD83D\") }", "{ a(x: \"\"\"block\"\"\") }", "{ a(x: $var) }",
        "query Q($v: Int) { a }", "{ ...Frag }", "{ a. }", "{ a ? }", "{ 1a }",
        // Numbers of no valid form, or too large.
        "{ f(a: 01) }", "{ f(a: 1.) }", "{ f(a: .5) }", "{ f(a: 1e) }", "{ f(a: 12abc) }",
        "{ f(a: -) }", "{ f(a: 99999999999999999999) }"}) {
    std::string error;
    EXPECT_FALSE(parse(bad, &error)) << "accepted: " << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

TEST(GraphqlParse, DeepNestingIsRefusedNotRecursedInto) {
  std::string values = "{ f(x: " + std::string(100000, '[') + std::string(100000, ']') + ") }";
  std::string error;
  EXPECT_FALSE(parse(values, &error));
  EXPECT_NE(error.find("deep"), std::string::npos) << error;

  std::string selections;
  for (int i = 0; i < 100000; ++i) selections += "{ a ";
  EXPECT_FALSE(parse(selections, &error));

  std::string objects = "{ f(x: ";
  for (int i = 0; i < 100000; ++i) objects += "{k: ";
  EXPECT_FALSE(parse(objects, &error));

  std::string justInside =
      "{ f(x: " + std::string(kMaxDepth - 2, '[') + std::string(kMaxDepth - 2, ']') + ") }";
  EXPECT_TRUE(parse(justInside, &error)) << error;
}

TEST(GraphqlParse, LargeObjectsStillCatchDuplicateFields) {
  std::string fields;
  for (int i = 0; i < 50000; ++i)
    fields += "f" + std::to_string(i) + ": " + std::to_string(i) + " ";
  auto doc = parse("{ a(x: {" + fields + "}) }");
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->selection[0].argument("x")->fields.size(), 50000u);
  std::string error;
  EXPECT_FALSE(parse("{ a(x: {" + fields + "f7: 1}) }", &error));
  EXPECT_NE(error.find("duplicate field f7"), std::string::npos) << error;
}

}  // namespace
}  // namespace adserver::graphql
