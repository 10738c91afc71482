#include "tavlo/util/OpenHyperlinkInBrowser.h"

#include <gtest/gtest.h>

using tavlo::util::OpenHyperlinkInBrowser;

namespace {

struct LinkCase {
    const char* label;
    const char* text;
    bool containsLink;
    const char* plainLink;
};

class LinkTextTest : public ::testing::TestWithParam<LinkCase> {};

TEST_P(LinkTextTest, FindsTheAddressOfAFormattedLink) {
    const LinkCase& c = GetParam();
    const QString text = QString::fromUtf8(c.text);
    EXPECT_EQ(OpenHyperlinkInBrowser::containsHyperlink(text), c.containsLink);
    EXPECT_EQ(OpenHyperlinkInBrowser::getPlainLink(text), QString::fromUtf8(c.plainLink));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, LinkTextTest,
    ::testing::Values(LinkCase{"link", R"(<html>New: <a href="https://x.example/d">download</a></html>)", true,
                               "https://x.example/d"},
                      LinkCase{"first_of_two", R"(<html><a href="a">1</a> <a href="b">2</a></html>)", true, "a"},
                      LinkCase{"no_html", R"(<a href="https://x.example/d">download</a>)", false, ""},
                      LinkCase{"no_link", "<html>plain</html>", false, ""},
                      LinkCase{"plain_text", "https://x.example", false, ""},
                      // The only closing quote comes before the link: no address, and no out-of-range cut.
                      LinkCase{"close_before_open", R"(<html>"> <a href="x</html>)", true, ""},
                      LinkCase{"empty_address", R"(<html><a href="">x</a></html>)", true, ""}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(OpenHyperlinkInBrowserTest, LinkifiedTextIsALinkToItself) {
    const QString address = QStringLiteral("https://www.corvane.example/download");
    const QString label = OpenHyperlinkInBrowser::htmlIfy(OpenHyperlinkInBrowser::linkIfy(address));
    EXPECT_EQ(label, QStringLiteral("<html><a href=\"") + address + QStringLiteral("\">") + address +
                         QStringLiteral("</a></html>"));
    EXPECT_TRUE(OpenHyperlinkInBrowser::containsHyperlink(label));
    EXPECT_EQ(OpenHyperlinkInBrowser::getPlainLink(label), address);
}

} // namespace
