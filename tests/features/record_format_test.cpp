#include "formats/record_format.h"

#include <gtest/gtest.h>

#include <string>

namespace vesmer {
namespace {

RecordFormat Parsed(const std::string& text) {
  RecordFormat format;
  std::string message;
  EXPECT_TRUE(ParseRecordFormat(text, format, message)) << text << ": " << message;
  EXPECT_EQ(message, "");
  return format;
}

std::string Refusal(const std::string& text) {
  RecordFormat format;
  format.framing = Framing::kRdw;  // a refusal leaves the format as it was
  std::string message;
  EXPECT_FALSE(ParseRecordFormat(text, format, message)) << text;
  EXPECT_EQ(format.framing, Framing::kRdw) << text;
  return message;
}

TEST(RecordFormatTest, WordsInAnyOrderAndCaseGiveOneCanonicalText) {
  const struct {
    const char* text;
    const char* canonical;
  } cases[] = {
      {"lines", "lines,cp932"},
      {"cp932", "lines,cp932"},
      {"LINES,CP932", "lines,cp932"},
      {"lf", "lf,cp932"},
      {"fixed=200,ibm-930", "fixed=200,ibm-930"},
      {"IBM-930,Fixed=0200", "fixed=200,ibm-930"},
      {"fixed=1", "fixed=1,cp932"},
      {"fixed=1073741824", "fixed=1073741824,cp932"},
      {"rdw,euc-jp", "rdw,euc-jp"},
      {"csv", "csv,cp932"},
      {"utf-8,header,csv,delimiter=\\t", "csv,delimiter=\\t,header,utf-8"},
      {"csv,delimiter=\t", "csv,delimiter=\\t,cp932"},
      {"csv,delimiter=;,HEADER", "csv,delimiter=;,header,cp932"},
      {"delimiter=\\,csv", "csv,delimiter=\\,cp932"},  // a backslash alone is a backslash
      {"csv,delimiter= ", "csv,delimiter= ,cp932"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const RecordFormat format = Parsed(c.text);
    EXPECT_EQ(format.Text(), c.canonical);
    EXPECT_EQ(Parsed(format.Text()), format);  // the canonical text reads back the same
  }
}

TEST(RecordFormatTest, FieldsOfParsedFormats) {
  RecordFormat format = Parsed("fixed=80,ibm-930");
  EXPECT_EQ(format.framing, Framing::kFixed);
  EXPECT_EQ(format.record_length, 80u);
  EXPECT_EQ(format.code_page, "ibm-930");
  EXPECT_FALSE(format.header);

  format = Parsed("csv,delimiter=\\t,header");
  EXPECT_EQ(format.framing, Framing::kCsv);
  EXPECT_EQ(format.delimiter, '\t');
  EXPECT_TRUE(format.header);
  EXPECT_EQ(format.code_page, "cp932");

  EXPECT_EQ(Parsed("csv").delimiter, ',');
}

TEST(RecordFormatTest, DefaultIsLinesInCodePage932) {
  EXPECT_TRUE(RecordFormat().IsDefault());
  EXPECT_TRUE(Parsed("lines").IsDefault());
  EXPECT_TRUE(Parsed("Cp932,Lines").IsDefault());
  EXPECT_FALSE(Parsed("lf").IsDefault());
  EXPECT_FALSE(Parsed("utf-8").IsDefault());
  EXPECT_FALSE(Parsed("csv").IsDefault());
}

TEST(RecordFormatTest, WhatResultFilesWriteAndWhereColumnsStart) {
  EXPECT_EQ(Parsed("lines").Terminator(), "\r\n");
  EXPECT_EQ(Parsed("lf").Terminator(), "\r\n");
  EXPECT_EQ(Parsed("csv").Terminator(), "\r\n");
  EXPECT_EQ(Parsed("fixed=10").Terminator(), "");
  EXPECT_EQ(Parsed("rdw").Terminator(), "");
  EXPECT_EQ(Parsed("rdw").ColumnOffset(), 4u);
  for (const char* text : {"lines", "lf", "csv", "fixed=10"}) {
    EXPECT_EQ(Parsed(text).ColumnOffset(), 0u) << text;
  }
}

TEST(RecordFormatTest, ShiftJisCodePagesAreKnownByTheirNames) {
  for (const char* name : {"cp932", "CP932", "Shift_JIS", "shift-jis", "windows-31j", "MS932",
                           "sjis", "ibm-943_P15A-2003"}) {
    RecordFormat format;
    format.code_page = name;
    EXPECT_TRUE(format.ShiftJisBytes()) << name;
  }
  for (const char* name : {"utf-8", "euc-jp", "ibm-930", "iso-2022-jp", "cp9320"}) {
    RecordFormat format;
    format.code_page = name;
    EXPECT_FALSE(format.ShiftJisBytes()) << name;
  }
}

TEST(RecordFormatTest, MalformedWordsAreRefusedByName) {
  for (const char* word : {"fixed=abc", "fixed=0", "fixed=", "fixed=-5", "fixed=+5",
                           "fixed=1073741825", "fixed=99999999999999999999999", "fixed",
                           "delimiter", "lf=1", "rdw=2", "header=yes", "csv=1", "encoding=utf-8"}) {
    EXPECT_EQ(Refusal(std::string("csv,") + word),
              std::string("形式の指定「") + word + "」が正しくありません");
  }
  for (const char* word :
       {"delimiter=ab", "delimiter=", "delimiter=\"", "delimiter=\r", "delimiter=\n",
        "delimiter=\\n", "delimiter=\x01", "delimiter=\x7f", "delimiter=\xe3\x80\x81"}) {
    EXPECT_EQ(Refusal(std::string("csv,") + word),
              std::string("形式の指定「") + word + "」が正しくありません");
  }
}

TEST(RecordFormatTest, EmptyWordsAreRefused) {
  EXPECT_EQ(Refusal(""), "形式の指定「」に空の項目があります");
  EXPECT_EQ(Refusal("csv,,header"), "形式の指定「csv,,header」に空の項目があります");
  EXPECT_EQ(Refusal("lf,"), "形式の指定「lf,」に空の項目があります");
  EXPECT_EQ(Refusal(",lf"), "形式の指定「,lf」に空の項目があります");
  // A comma separates words: the default delimiter cannot be written, and need not be.
  EXPECT_EQ(Refusal("csv,delimiter=,"), "形式の指定「delimiter=」が正しくありません");
}

TEST(RecordFormatTest, EachKindOfWordIsGivenOnce) {
  EXPECT_EQ(Refusal("lf,lf"), "形式の指定「lf」が重複しています");
  EXPECT_EQ(Refusal("lf,LF"), "形式の指定「LF」が重複しています");
  EXPECT_EQ(Refusal("csv,header,header"), "形式の指定「header」が重複しています");
  EXPECT_EQ(Refusal("utf-8,utf-8"), "形式の指定「utf-8」が重複しています");
  EXPECT_EQ(Refusal("lf,csv"), "形式の指定「lf」と「csv」は一緒に使えません");
  EXPECT_EQ(Refusal("fixed=10,fixed=20"), "形式の指定「fixed=10」と「fixed=20」は一緒に使えません");
  EXPECT_EQ(Refusal("lines,rdw"), "形式の指定「lines」と「rdw」は一緒に使えません");
  EXPECT_EQ(Refusal("utf-8,cp932"), "形式の指定「utf-8」と「cp932」は一緒に使えません");
  EXPECT_EQ(Refusal("csv,delimiter=;,delimiter=|"),
            "形式の指定「delimiter=;」と「delimiter=|」は一緒に使えません");
}

TEST(RecordFormatTest, CsvOptionsNeedCsv) {
  EXPECT_EQ(Refusal("delimiter=;"), "形式の指定「delimiter=;」は csv と一緒にしか使えません");
  EXPECT_EQ(Refusal("header"), "形式の指定「header」は csv と一緒にしか使えません");
  EXPECT_EQ(Refusal("lf,header,utf-8"), "形式の指定「header」は csv と一緒にしか使えません");
  EXPECT_EQ(Refusal("fixed=10,delimiter=\\t"),
            "形式の指定「delimiter=\\t」は csv と一緒にしか使えません");
}

}  // namespace
}  // namespace vesmer
