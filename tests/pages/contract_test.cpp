// The served pages against the program: every element the program fills or
// reads must be on its page, once, and of a kind that can hold what it gets.
// The lists below are the page contract; a page redesign has to keep them.

#include "pages/pages.h"
#include "platform/text.h"
#include "platform/xml.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

using tw::lower;

// One start tag of a page, with the form and select it stands in.
struct Tag {
    std::string name;
    std::map<std::string, std::string> attrs;
    int form = -1;
    std::vector<std::string> options; // option values, for a select

    std::string attr(const std::string &key) const
    {
        auto it = attrs.find(key);
        return it == attrs.end() ? std::string() : it->second;
    }
    bool has(const std::string &key) const { return attrs.count(key) != 0; }
};

std::string unescape(std::string s)
{
    for (std::size_t at = s.find("&amp;"); at != std::string::npos; at = s.find("&amp;", at + 1))
        s.replace(at, 5, "&");
    return s;
}

// Enough of an HTML tokenizer for our own pages: start and end tags, quoted
// and bare attribute values, comments skipped.
std::vector<Tag> scan(const std::string &html)
{
    std::vector<Tag> tags;
    int form = -1, select = -1;
    std::size_t i = 0;
    while ((i = html.find('<', i)) != std::string::npos) {
        if (html.compare(i, 4, "<!--") == 0) {
            i = html.find("-->", i);
            if (i == std::string::npos) break;
            continue;
        }
        std::size_t end = html.find('>', i);
        if (end == std::string::npos) break;
        std::string body = html.substr(i + 1, end - i - 1);
        i = end + 1;
        if (body.empty() || body[0] == '!') continue;
        if (body[0] == '/') {
            std::string closed = lower(body.substr(1));
            if (closed.rfind("form", 0) == 0) form = -1;
            if (closed.rfind("select", 0) == 0) select = -1;
            continue;
        }
        Tag tag;
        std::size_t p = 0;
        while (p < body.size() && std::isalnum(static_cast<unsigned char>(body[p])))
            ++p;
        tag.name = lower(body.substr(0, p));
        while (p < body.size()) {
            while (p < body.size() && (std::isspace(static_cast<unsigned char>(body[p])) || body[p] == '/'))
                ++p;
            std::size_t k = p;
            while (p < body.size() && !std::isspace(static_cast<unsigned char>(body[p])) && body[p] != '=' &&
                   body[p] != '/')
                ++p;
            if (k == p) break;
            std::string key = lower(body.substr(k, p - k)), value;
            if (p < body.size() && body[p] == '=') {
                ++p;
                if (p < body.size() && (body[p] == '"' || body[p] == '\'')) {
                    std::size_t close = body.find(body[p], p + 1);
                    value = body.substr(p + 1, close - p - 1);
                    p = close == std::string::npos ? body.size() : close + 1;
                } else {
                    std::size_t v = p;
                    while (p < body.size() && !std::isspace(static_cast<unsigned char>(body[p])))
                        ++p;
                    value = body.substr(v, p - v);
                }
            }
            tag.attrs[key] = unescape(value);
        }
        tag.form = form;
        if (tag.name == "form") form = static_cast<int>(tags.size());
        if (tag.name == "select") select = static_cast<int>(tags.size());
        if (tag.name == "option" && select >= 0) tags[select].options.push_back(tag.attr("value"));
        tags.push_back(std::move(tag));
    }
    return tags;
}

struct Page {
    std::string path, html;
    std::vector<Tag> tags;

    explicit Page(std::string p) : path(std::move(p))
    {
        auto bytes = tw::pages::bundled(path);
        if (bytes) html = bytes->toStdString();
        tags = scan(html);
    }

    // The program looks elements up by id or by name.
    std::vector<const Tag *> named(const std::string &name) const
    {
        std::vector<const Tag *> found;
        for (const Tag &t : tags)
            if (t.attr("id") == name || t.attr("name") == name) found.push_back(&t);
        return found;
    }

    // The command a form sends when its unnamed button is pressed: its fields.
    std::string formCommand(int form) const
    {
        std::string query;
        for (const Tag &t : tags)
            if (t.form == form && t.name == "input" && lower(t.attr("type")) == "hidden")
                query += (query.empty() ? "" : "&") + t.attr("name") + "=" + t.attr("value");
        return tags[form].attr("action") + "?" + query;
    }

    // Every command link the page can send, from links and from forms.
    std::set<std::string> commands() const
    {
        std::set<std::string> out;
        for (std::size_t i = 0; i < tags.size(); ++i) {
            const Tag &t = tags[i];
            if (t.name == "a" && lower(t.attr("href")).rfind("http://plinthway/", 0) == 0) out.insert(t.attr("href"));
            if (t.name == "form") out.insert(formCommand(static_cast<int>(i)));
        }
        return out;
    }
};

enum class Kind { Text, Input, Checkbox, TextArea, Select, Button, Table, Cell, Box, Link };

bool isKind(const Tag &t, Kind kind)
{
    const std::string type = lower(t.attr("type"));
    switch (kind) {
    case Kind::Text:
        return t.name == "input" && (type.empty() || type == "text");
    case Kind::Input:
        return t.name == "input";
    case Kind::Checkbox:
        return t.name == "input" && type == "checkbox";
    case Kind::TextArea:
        return t.name == "textarea";
    case Kind::Select:
        return t.name == "select";
    // Its text is its value and it can be disabled: not a link.
    case Kind::Button:
        return t.name == "input" && (type == "submit" || type == "button");
    case Kind::Table:
        return t.name == "table";
    case Kind::Cell:
        return t.name == "td";
    case Kind::Box:
        return t.name == "div" || t.name == "span" || t.name == "td" || t.name == "p";
    case Kind::Link:
        return t.name == "a" && t.has("href");
    }
    return false;
}

struct Need {
    std::string name;
    Kind kind;
};

using Needs = std::vector<Need>;

Needs numbered(std::vector<std::string> stems, int from, int to, Kind kind)
{
    Needs out;
    for (int n = from; n <= to; ++n)
        for (const std::string &stem : stems)
            out.push_back({stem + std::to_string(n), kind});
    return out;
}

Needs operator+(Needs a, const Needs &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

void expectElements(const Page &page, const Needs &needs)
{
    SCOPED_TRACE(page.path);
    ASSERT_FALSE(page.html.empty());
    for (const Need &need : needs) {
        auto found = page.named(need.name);
        if (found.size() != 1) {
            ADD_FAILURE() << need.name << " is on the page " << found.size() << " times, not once";
            continue;
        }
        EXPECT_TRUE(isKind(*found[0], need.kind)) << need.name << " is a <" << found[0]->name << ">";
    }
}

void expectOptions(const Page &page, const std::string &select, const std::vector<std::string> &values)
{
    SCOPED_TRACE(page.path + " " + select);
    auto found = page.named(select);
    ASSERT_EQ(found.size(), 1u);
    const std::vector<std::string> &offered = found[0]->options;
    for (const std::string &v : values)
        EXPECT_TRUE(std::find(offered.begin(), offered.end(), v) != offered.end()) << "no option " << v;
}

void expectCommands(const Page &page, const std::vector<std::string> &commands)
{
    SCOPED_TRACE(page.path);
    auto offered = page.commands();
    for (const std::string &c : commands)
        EXPECT_TRUE(offered.count(c)) << "no command " << c;
}

// The button's own form sends the command, and nothing but it.
void expectButtonSends(const Page &page, const std::string &button, const std::string &command)
{
    SCOPED_TRACE(page.path + " " + button);
    auto found = page.named(button);
    ASSERT_EQ(found.size(), 1u);
    ASSERT_GE(found[0]->form, 0) << "not in a form";
    EXPECT_EQ(page.formCommand(found[0]->form), command);
}

const char *const kPages[] = {"/KORVA/welcome.html",
                              "/KORVA/main-1.0.47.html",
                              "/KORVA/settings.html",
                              "/KORVA/help.html",
                              "/KORVA/PrintPostageForm-1.0.57.html",
                              "/KORVA/PrintPostageFormWorldShip-1.0.57.html",
                              "/KORVA/ComposeEmail.html",
                              "/KORVA/ContactBuyer.html",
                              "/korva/paypalrefundform.html",
                              "/korva/ebayrefundform.html"};

const Needs kAddressCore = {{"ToName", Kind::Text},     {"ToCompany", Kind::Text},    {"ToAddress1", Kind::Text},
                            {"ToAddress2", Kind::Text}, {"ToAddress3", Kind::Text},   {"ToCity", Kind::Text},
                            {"ToState", Kind::Text},    {"ToPostalCode", Kind::Text}, {"ToCountry", Kind::Text},
                            {"ToPhone", Kind::Text},    {"ToEMail", Kind::Text}};

// What the shared filling steps and the mail-class and destination handlers
// touch on both postage forms.
const Needs kPostageShared =
    kAddressCore +
    Needs{{"selecteditems_td", Kind::Box},
          {"CustomerShippingPaid", Kind::Box},
          {"CustomsSigner", Kind::Text},
          {"TestMode", Kind::Checkbox},
          {"AutoClose", Kind::Checkbox},
          {"CustomsCertify", Kind::Checkbox},
          {"Stealth", Kind::Checkbox},
          {"InsuredMail", Kind::Select},
          {"MailClass", Kind::Select},
          {"PackageType", Kind::Select},
          {"Layout", Kind::Select},
          {"Width", Kind::Text},
          {"Length", Kind::Text},
          {"Depth", Kind::Text},
          {"NonMachinable", Kind::Checkbox},
          {"Confirmation", Kind::Select},
          {"Description", Kind::Text},
          {"Value", Kind::Text},
          {"WeightLbs", Kind::Text},
          {"WeightOz", Kind::Text},
          {"BalloonRate", Kind::Checkbox},
          {"SignatureWaiver", Kind::Checkbox},
          {"ExpressMailPremiumService", Kind::Checkbox},
          {"NoWeekendDelivery", Kind::Checkbox},
          {"NoHolidayDelivery", Kind::Checkbox},
          {"CustomsFormType", Kind::Select},
          {"customs", Kind::Box},
          {"customsitems", Kind::Box}} +
    numbered({"CustomsQuantity", "CustomsWeight", "CustomsDescription", "CustomsValue"}, 1, 5, Kind::Text);

TEST(PagesContract, MainPageHasTheTabsBoxesAndAnOrderTableWithOnlyItsHeaderRow)
{
    Page page("/KORVA/main-1.0.47.html");
    expectElements(page, {{"TD_DeliveredNeedsFollowUp", Kind::Cell},
                          {"TD_InTransit", Kind::Cell},
                          {"TD_NotShipped", Kind::Cell},
                          {"TD_Archived", Kind::Cell},
                          {"message", Kind::Box},
                          {"submenu", Kind::Box},
                          {"TransactionsTable", Kind::Table},
                          {"PrintPostageWorldShip", Kind::Link}});
    // The program's menu offers only DAZzle; WorldShip is reached from here.
    expectCommands(page, {"http://plinthway/?Action=PrintPostageWorldShip"});

    // Order rows have seven cells and the program rewrites the second header.
    std::size_t start = page.html.find("id=\"TransactionsTable\"");
    ASSERT_NE(start, std::string::npos);
    std::string table = page.html.substr(start, page.html.find("</table>", start) - start);
    std::vector<Tag> inside = scan("<" + table);
    auto count = [&](const char *name) {
        return std::count_if(inside.begin(), inside.end(), [&](const Tag &t) { return t.name == name; });
    };
    EXPECT_EQ(count("tr"), 1);
    EXPECT_EQ(count("th"), 7);
}

TEST(PagesContract, OptionsPageHasItsTableAndTheSaveAndCancelCommands)
{
    Page page("/KORVA/settings.html");
    expectElements(page, {{"SettingsTable", Kind::Table}});
    // The program matches the button text exactly, "+" and all.
    expectCommands(page, {"http://plinthway/?Action=SaveSettings&Button=Save+Settings",
                          "http://plinthway/?Action=SaveSettings&Button=Cancel"});
}

TEST(PagesContract, MessagePagesCarryTheirFieldsAndCommands)
{
    Page contact("/KORVA/ContactBuyer.html");
    expectElements(contact, {{"BuyerID", Kind::Box},
                             {"Item", Kind::Box},
                             {"Subject", Kind::Text},
                             {"Message", Kind::TextArea},
                             {"ItemID", Kind::Input},
                             {"TransactionID", Kind::Input},
                             {"cc", Kind::Checkbox}});
    expectCommands(contact, {"http://plinthway/?Action=SendMessage"});

    Page compose("/KORVA/ComposeEmail.html");
    expectElements(compose, {{"To", Kind::Text},
                             {"Subject", Kind::Text},
                             {"From", Kind::Text},
                             {"Message", Kind::TextArea},
                             {"cc", Kind::Checkbox}});
    expectCommands(compose, {"http://plinthway/?Action=SMTPSend", "http://plinthway/?Action=CancelMessage"});
}

TEST(PagesContract, DazzleFormCarriesEveryFieldTheFillingHandlersAndExportUse)
{
    Page page("/KORVA/PrintPostageForm-1.0.57.html");
    expectElements(page, kPostageShared +
                             Needs{{"links_td", Kind::Box},
                                   {"ToTitle", Kind::Text},
                                   {"ReferenceID", Kind::Text},
                                   {"DateAdvance", Kind::Select},
                                   {"OversizeRate", Kind::Checkbox},
                                   {"RegisteredMail", Kind::Checkbox},
                                   {"CertifiedMail", Kind::Checkbox},
                                   {"RestrictedDelivery", Kind::Checkbox},
                                   {"CertificateOfMailing", Kind::Checkbox},
                                   {"ReturnReceipt", Kind::Checkbox},
                                   {"COD", Kind::Checkbox},
                                   {"CostCenter", Kind::Text},
                                   {"ContentsType", Kind::Select},
                                   {"PrintPostage", Kind::Button},
                                   {"PostagePaid", Kind::Box}} +
                             numbered({"ToAddress"}, 4, 6, Kind::Text) + numbered({"ReturnAddress"}, 1, 6, Kind::Text) +
                             numbered({"RubberStamp"}, 1, 3, Kind::Text));
    expectButtonSends(page, "PrintPostage", "http://plinthway/?Action=PrintPostageSend");
    // While DAZzle works only this exact address gets past the busy guard.
    expectCommands(page, {"http://plinthway/?Action=CancelPrintPostage"});

    // Every value the service mapping and the mail-class rules write.
    expectOptions(page, "MailClass",
                  {"NONE", "FIRST", "PRIORITY", "EXPRESS", "PARCELPOST", "MEDIAMAIL", "LIBRARYMAIL",
                   "BOUNDPRINTEDMATTER", "PRESORTEDFIRST", "PRESORTEDSTANDARD", "INTLFIRST", "INTLPRIORITY",
                   "INTLEXPRESS", "INTLGXG", "INTLGXGNODOC"});
    expectOptions(page, "PackageType", {"FLATRATEENVELOPE", "FLATRATEBOX", "FLATRATELARGEBOX"});
}

TEST(PagesContract, WorldShipFormCarriesTheSharedFieldsAndItsReferences)
{
    Page page("/KORVA/PrintPostageFormWorldShip-1.0.57.html");
    expectElements(page,
                   kPostageShared + numbered({"Reference"}, 1, 4, Kind::Text) + Needs{{"PrintPostage", Kind::Input}});
    expectCommands(
        page, {"http://plinthway/?Action=PrintPostageSendWorldShip", "http://plinthway/?Action=CancelPrintPostage"});
}

TEST(PagesContract, PostageFormsOfferTheValuesTheProgramWritesIntoTheirSelects)
{
    for (const char *path : {"/KORVA/PrintPostageForm-1.0.57.html", "/KORVA/PrintPostageFormWorldShip-1.0.57.html"}) {
        Page page(path);
        expectOptions(page, "InsuredMail", {"OFF", "ENDICIA", "ON", "UPIC"});
        expectOptions(page, "CustomsFormType", {"CN22", "CP72"});
        expectOptions(page, "Confirmation", {"DeliveryConfirmation", "SignatureConfirmation"});
    }
}

TEST(PagesContract, RefundFormHasItsFieldsSummaryAreasAndADisablableSendButton)
{
    Page page("/korva/paypalrefundform.html");
    expectElements(page, {{"AMT", Kind::Text},
                          {"REFUNDTYPE", Kind::Select},
                          {"NOTE", Kind::Text},
                          {"PaypalRefund", Kind::Button},
                          {"topleft_td", Kind::Box},
                          {"topright_td", Kind::Box}});
    expectButtonSends(page, "PaypalRefund", "http://plinthway/?Action=PaypalRefundSend");
    expectCommands(page, {"http://plinthway/?Action=CancelPaypalRefund"});

    Page eBay("/korva/ebayrefundform.html");
    expectElements(eBay, {{"AMT", Kind::Text},
                          {"REASON", Kind::Select},
                          {"SCOPE", Kind::Select},
                          {"COMMENT", Kind::Text},
                          {"EbayRefund", Kind::Button},
                          {"topleft_td", Kind::Box}});
    expectOptions(eBay, "SCOPE", {"LINE", "ORDER"});
    expectButtonSends(eBay, "EbayRefund", "http://plinthway/?Action=EbayRefundSend");
    expectCommands(eBay, {"http://plinthway/?Action=CancelEbayRefund"});
}

TEST(PagesContract, EveryPageHasABodyNeedsNothingOutsideAndSendsOnlyKnownActions)
{
    const std::set<std::string> actions = {"DisplayPaypalRefundForm",
                                           "PaypalRefundSend",
                                           "EbayRefundSend",
                                           "CancelEbayRefund",
                                           "PrintPostageSend",
                                           "PrintPostageSendWorldShip",
                                           "SMTPSend",
                                           "SendSMTPTemplateMessage",
                                           "PrintPostage",
                                           "PrintPostageWorldShip",
                                           "TagAll",
                                           "UnTagAll",
                                           "FlipTags",
                                           "TagWithFeedback",
                                           "DisplayDeliveredNeedsFollowUp",
                                           "DisplayInTransit",
                                           "DisplayNotShipped",
                                           "DisplayArchived",
                                           "ArchiveAll",
                                           "ArchiveTagged",
                                           "ArchiveTransaction",
                                           "RestoreTransaction",
                                           "RestoreTagged",
                                           "CancelMessage",
                                           "CancelPrintPostage",
                                           "CancelPaypalRefund",
                                           "SendMessage",
                                           "AddNoteClick",
                                           "DeleteNoteClick",
                                           "SaveNoteClick",
                                           "SaveSettings"};
    for (const char *path : kPages) {
        Page page(path);
        SCOPED_TRACE(path);
        ASSERT_FALSE(page.html.empty());
        // The processing overlay is appended to the body.
        EXPECT_EQ(std::count_if(page.tags.begin(), page.tags.end(), [](const Tag &t) { return t.name == "body"; }), 1);
        for (const Tag &t : page.tags) {
            EXPECT_NE(t.name, "script");
            for (const char *key : {"src", "href"}) {
                std::string target = lower(t.attr(key));
                bool outside = target.find("//") != std::string::npos && target.rfind("http://plinthway/", 0) != 0;
                EXPECT_FALSE(outside) << t.name << " " << key << "=" << t.attr(key);
            }
        }
        for (const std::string &command : page.commands()) {
            std::string query = command.substr(command.find('?') + 1);
            std::string action;
            for (std::size_t at = 0; at <= query.size();) {
                std::size_t amp = std::min(query.find('&', at), query.size());
                std::string piece = query.substr(at, amp - at);
                if (piece.rfind("Action=", 0) == 0) action = piece.substr(7);
                at = amp + 1;
            }
            EXPECT_TRUE(actions.count(action)) << command;
        }
    }
}

TEST(PagesContract, DazzleDefinitionsCarryTheRootAttributesPackageAndNineServices)
{
    auto bytes = tw::pages::bundled("/korva/dazzle-korva.xml");
    ASSERT_TRUE(bytes);
    std::string error;
    tw::xml::Document doc = tw::xml::Document::parse(bytes->toStdString(), &error);
    ASSERT_TRUE(doc) << error;
    tw::xml::Node root = doc.root();
    ASSERT_EQ(root.name(), "DAZzle");
    for (const char *attribute : {"Layout", "OutputFile", "Test", "AutoClose"})
        EXPECT_TRUE(root.hasAttribute(attribute)) << attribute;
    tw::xml::Node services = doc.select("DAZzle/Package/Services");
    ASSERT_TRUE(services);
    for (const char *attribute :
         {"RegisteredMail", "InsuredMail", "CertifiedMail", "RestrictedDelivery", "CertificateOfMailing",
          "ReturnReceipt", "DeliveryConfirmation", "SignatureConfirmation", "COD"})
        EXPECT_TRUE(services.hasAttribute(attribute)) << attribute;
}

} // namespace
