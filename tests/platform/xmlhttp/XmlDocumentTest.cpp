#include "platform/xmlhttp/XmlDocument.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/TempFolder.h"
#include "tests/support/WebServer.h"

namespace platform::xmlhttp {
namespace {

using zorva_test::TempFolder;
using zorva_test::WebAnswer;
using zorva_test::WebServer;

constexpr const char* kLoginAnswer =
    "<?xml version=\"1.0\"?>\n"
    "<response><status>0</status><username>bob</username>"
    "<password>from service</password></response>";

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
}

TEST(XmlDocumentTest, LoadXmlSelectsNodesAndTheirText) {
  XmlDocument doc;
  ASSERT_TRUE(doc.LoadXml(kLoginAnswer)) << doc.ParseError();
  EXPECT_TRUE(doc.IsLoaded());
  EXPECT_TRUE(doc.ParseError().empty());

  XmlNode status = doc.SelectSingleNode("//response/status");
  ASSERT_TRUE(status);
  EXPECT_EQ(status.Text(), "0");
  EXPECT_EQ(status.Name(), "status");
  EXPECT_EQ(doc.SelectSingleNode("//response/username").Text(), "bob");
  EXPECT_EQ(doc.SelectSingleNode("/response").Text(), "0bobfrom service");
}

TEST(XmlDocumentTest, MissingNodeIsNullAndUsingItThrows) {
  XmlDocument doc;
  ASSERT_TRUE(doc.LoadXml(kLoginAnswer));
  XmlNode missing = doc.SelectSingleNode("//response/description");
  EXPECT_FALSE(missing);
  try {
    (void)missing.Text();
    FAIL() << "reading a null node did not throw";
  } catch (const XmlHttpError& e) {
    EXPECT_EQ(e.Code(), kXmlNullNode);
  }
  EXPECT_THROW(missing.SetText("x"), XmlHttpError);
}

TEST(XmlDocumentTest, FirstMatchInDocumentOrderAndRelativeQueries) {
  XmlDocument doc;
  ASSERT_TRUE(
      doc.LoadXml("<list><item id='1'><name>one</name></item>"
                  "<item id='2'><name>two</name></item></list>"));
  EXPECT_EQ(doc.SelectSingleNode("//item/name").Text(), "one");
  EXPECT_EQ(doc.SelectSingleNode("//item[2]/name | //item[1]/name").Text(), "one");
  XmlNode second = doc.SelectSingleNode("//item[@id='2']");
  ASSERT_TRUE(second);
  EXPECT_EQ(second.SelectSingleNode("name").Text(), "two");
  EXPECT_EQ(second.SelectSingleNode("@id").Text(), "2");
  EXPECT_FALSE(second.SelectSingleNode("missing"));
}

TEST(XmlDocumentTest, BadXPathThrows) {
  XmlDocument doc;
  ASSERT_TRUE(doc.LoadXml("<a><b>1</b></a>"));
  for (const char* bad : {"//[", "count(//b)", "", "//b/"}) {
    try {
      (void)doc.SelectSingleNode(bad);
      ADD_FAILURE() << "no error for \"" << bad << "\"";
    } catch (const XmlHttpError& e) {
      EXPECT_EQ(e.Code(), kXmlBadQuery) << bad;
    }
  }
  XmlDocument empty;
  EXPECT_FALSE(empty.SelectSingleNode("//b"));
  EXPECT_THROW((void)empty.SelectSingleNode("//["), XmlHttpError);
}

TEST(XmlDocumentTest, NotWellFormedFailsCleanly) {
  XmlDocument doc;
  ASSERT_TRUE(doc.LoadXml("<a>1</a>"));
  for (const char* bad : {"<a><b></a>", "", "plain text", "<a>&undeclared;</a>", "<a/><b/>",
                          "<p:a>unbound prefix</p:a>", "<a>\xff\xfe</a>"}) {
    EXPECT_FALSE(doc.LoadXml(bad)) << bad;
    EXPECT_FALSE(doc.ParseError().empty()) << bad;
    EXPECT_FALSE(doc.IsLoaded());
    EXPECT_EQ(doc.Xml(), "");
    EXPECT_FALSE(doc.SelectSingleNode("//a")) << "the previous document is gone";
  }
  EXPECT_TRUE(doc.LoadXml("<a>again</a>"));
  EXPECT_TRUE(doc.ParseError().empty());
}

TEST(XmlDocumentTest, SetTextStoresSpecialCharactersWhole) {
  const std::string password = "a&b<c>d]]>\"e' &amp; \xC3\xA9";
  XmlDocument doc;
  ASSERT_TRUE(doc.LoadXml(kLoginAnswer));
  doc.SelectSingleNode("//response/password").SetText(password);
  EXPECT_EQ(doc.SelectSingleNode("//response/password").Text(), password);

  std::string xml = doc.Xml();
  EXPECT_NE(xml.find("a&amp;b&lt;c"), std::string::npos) << xml;
  EXPECT_NE(xml.find("encoding=\"UTF-8\""), std::string::npos) << xml;

  XmlDocument reloaded;
  ASSERT_TRUE(reloaded.LoadXml(xml)) << reloaded.ParseError();
  EXPECT_EQ(reloaded.SelectSingleNode("//response/password").Text(), password);
  EXPECT_EQ(reloaded.SelectSingleNode("//response/username").Text(), "bob");
}

TEST(XmlDocumentTest, SetTextReplacesChildrenAndOldNodesStayUsable) {
  XmlDocument doc;
  ASSERT_TRUE(doc.LoadXml("<r><p>old<i>inner</i></p></r>"));
  XmlNode inner = doc.SelectSingleNode("//p/i");
  XmlNode p = doc.SelectSingleNode("//p");
  p.SetText("new");
  EXPECT_EQ(p.Xml(), "<p>new</p>");
  EXPECT_FALSE(doc.SelectSingleNode("//p/i"));
  EXPECT_EQ(inner.Text(), "inner");
  p.SetText("");
  EXPECT_EQ(p.Text(), "");
  EXPECT_EQ(p.Xml(), "<p/>");
}

TEST(XmlDocumentTest, SetTextOnAttributeAndTextNode) {
  XmlDocument doc;
  ASSERT_TRUE(doc.LoadXml("<r v='1'>text</r>"));
  doc.SelectSingleNode("/r/@v").SetText("x&y<z\"");
  doc.SelectSingleNode("/r/text()").SetText("1 < 2 & 3");
  XmlDocument reloaded;
  ASSERT_TRUE(reloaded.LoadXml(doc.Xml())) << doc.Xml();
  EXPECT_EQ(reloaded.SelectSingleNode("/r/@v").Text(), "x&y<z\"");
  EXPECT_EQ(reloaded.SelectSingleNode("/r").Text(), "1 < 2 & 3");
  EXPECT_THROW(doc.SelectSingleNode("/r").SetText(std::string("a\0b", 3)), XmlHttpError);
  EXPECT_THROW(doc.SelectSingleNode("/r").SetText("\xff"), XmlHttpError);
}

TEST(XmlDocumentTest, LoadXmlTakesTextAsUtf8WhateverTheDeclarationSays) {
  XmlDocument doc;
  ASSERT_TRUE(doc.LoadXml("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>caf\xC3\xA9</a>")) << doc.ParseError();
  EXPECT_EQ(doc.SelectSingleNode("/a").Text(), "caf\xC3\xA9");
  XmlDocument reloaded;
  ASSERT_TRUE(reloaded.LoadXml(doc.Xml()));
  EXPECT_EQ(reloaded.SelectSingleNode("/a").Text(), "caf\xC3\xA9");
}

TEST(XmlDocumentTest, ExternalEntitiesAndDtdsAreNeverRead) {
  TempFolder folder;
  std::string secret = folder.File("secret.txt");
  WriteFile(secret, "TOPSECRET");
  WebServer server;
  server.SetDefaultAnswer({200, "", {{"Content-Type", "text/plain"}}, "NETWORKSECRET"});

  std::string xml = "<?xml version=\"1.0\"?>\n<!DOCTYPE r SYSTEM \"" + server.Url("/r.dtd") +
                    "\" [\n<!ENTITY file SYSTEM \"file://" + secret + "\">\n<!ENTITY web SYSTEM \"" +
                    server.Url("/entity") + "\">\n<!ENTITY % remote SYSTEM \"" + server.Url("/param") +
                    "\">\n%remote;\n]>\n<r><a>&file;</a><b>&web;</b></r>";
  for (bool fromFile : {false, true}) {
    XmlDocument doc;
    bool loaded = false;
    if (fromFile) {
      WriteFile(folder.File("doc.xml"), xml);
      loaded = doc.Load(folder.File("doc.xml"));
    } else {
      loaded = doc.LoadXml(xml);
    }
    // The document itself is well-formed; its references stay unresolved.
    ASSERT_TRUE(loaded) << doc.ParseError();
    EXPECT_EQ(doc.SelectSingleNode("/r/a").Text(), "");
    EXPECT_EQ(doc.SelectSingleNode("/r/b").Text(), "");
    EXPECT_EQ(doc.Xml().find("SECRET"), std::string::npos);
  }
  EXPECT_TRUE(server.Requests().empty());
}

TEST(XmlDocumentTest, LoadReadsFilePathsAndFileUrls) {
  TempFolder folder;
  std::string path = folder.File("my version.xml");
  WriteFile(path,
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><version><number>1034</number>"
            "<text>caf\xE9</text></version>");
  XmlDocument doc;
  ASSERT_TRUE(doc.Load(path)) << doc.ParseError();
  EXPECT_EQ(doc.SelectSingleNode("//version/number").Text(), "1034");
  EXPECT_EQ(doc.SelectSingleNode("//version/text").Text(), "caf\xC3\xA9");

  std::string url = "file://" + folder.Path() + "/my%20version.xml";
  XmlDocument fromUrl;
  ASSERT_TRUE(fromUrl.Load(url)) << fromUrl.ParseError();
  EXPECT_EQ(fromUrl.SelectSingleNode("//version/number").Text(), "1034");

  XmlDocument missing;
  EXPECT_FALSE(missing.Load(folder.File("none.xml")));
  EXPECT_FALSE(missing.ParseError().empty());
  EXPECT_FALSE(missing.Load("file://elsewhere" + path));
  EXPECT_FALSE(missing.Load("ftp://127.0.0.1/version.xml"));
  WriteFile(folder.File("bad.xml"), "<version>");
  EXPECT_FALSE(missing.Load(folder.File("bad.xml")));
}

TEST(XmlDocumentTest, LoadFetchesOverHttpAndNeedsStatus200) {
  WebServer server;
  server.Answer({200,
                 "",
                 {{"Content-Type", "text/xml"}},
                 "<version><number>1000</number><url>http://x.example/d</url></version>"});
  server.Answer({404, "", {}, "<version><number>1</number></version>"});
  server.Answer({200, "", {}, "not xml"});

  XmlDocument doc;
  ASSERT_TRUE(doc.Load(server.Url("/downloads/version.xml"))) << doc.ParseError();
  EXPECT_EQ(doc.SelectSingleNode("//version/number").Text(), "1000");
  EXPECT_FALSE(doc.Load(server.Url("/downloads/version.xml")));
  EXPECT_NE(doc.ParseError().find("404"), std::string::npos) << doc.ParseError();
  EXPECT_FALSE(doc.Load(server.Url("/downloads/version.xml")));

  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].requestLine, "GET /downloads/version.xml HTTP/1.1");
}

}  // namespace
}  // namespace platform::xmlhttp
