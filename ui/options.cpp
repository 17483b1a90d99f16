#include "ui/options.h"

#include "pages/pages.h"
#include "platform/config.h"
#include "platform/text.h"
#include "store/basFunctions.h"
#include "store/settings.h"
#include "ui/layouts.h"
#include "ui/served.h"

#include <cstdlib>
#include <functional>
#include <memory>
#include <system_error>

namespace tw::ui {
namespace {

constexpr std::string_view kRowColour = "#DDDDFF";
constexpr std::string_view kDazzleNotice =
    "<font color='red'>Please update the path to Dazzle.exe, save the settings, then come back into Options to "
    "select Layouts.</font>";

// Inputs of one kind in page order, as the bulk calls address them.
constexpr std::string_view kTextInputs = "input[type=\"text\"][name], input[type=\"password\"][name], textarea[name]";
constexpr std::string_view kCheckboxes = "input[type=\"checkbox\"][name]";
constexpr std::string_view kPlainSelects = "select[name]:not([name^=\"DazzleLayout_\"])";
// The inputs that have no size of their own, in page order.
constexpr std::string_view kSizedInputs = "input[name=\"SMTPServer\"], input[name=\"SMTPFrom\"], "
                                          "input[name=\"SMTPPort\"], input[name=\"DazzleExePath\"]";

std::string layoutKey(const settings::Layout &layout)
{
    return "DazzleLayout_" + std::string(layout.code);
}

std::string layoutRow()
{
    std::string html = "Dazzle Layouts<br/><table border=0>";
    for (const settings::Layout &layout : settings::layouts())
        html +=
            "<tr><td>" + std::string(layout.label) + ": </td><td><select name=" + layoutKey(layout) + " /></td></tr>";
    return html + "</table>";
}

std::string paypalRow(std::string_view certificatePage)
{
    // The password and the signature are secrets: shown as dots, never
    // offered to the browser's form memory.
    return "Paypal API Access<br/>"
           "Login to Paypal. "
           "Click My Account then Profile. On left column click API Access.<br>"
           "Follow instructions under <i>Request API Credentials</i> <br/>"
           "<table border=0>"
           "<tr><td>API Authentication Mode:</td><td><select name=PaypalAPIAuthMode>"
           "<option value=\"Signature\">Signature (recommended)</option>"
           "<option value=\"Certificate\">Certificate (requires additional setup)</option></select> "
           "<a href=\"" +
           xml::escape(certificatePage) +
           "\">Certificate Instructions</a></td></tr>"
           "<tr><td>API Username:</td><td><input type=text size=30 name=PaypalAPIUser /></td></tr>"
           "<tr><td>API Password:</td><td><input type=password size=30 name=PaypalAPIPassword "
           "autocomplete=off /></td></tr>"
           "<tr><td>API Signature:</td><td><input type=password size=40 name=PaypalAPISignature autocomplete=off /> "
           "(leave blank for certificate)</td></tr>"
           "</table>";
}

std::string uspsRow()
{
    return "USPS Tracking<br/>"
           "<table border=0>"
           "<tr><td>Tracking API:</td><td><select name=USPSTrackingApi>"
           "<option value=\"WebTools\">Web Tools</option>"
           "<option value=\"REST\">REST API (developers.usps.com)</option></select></td></tr>"
           "<tr><td>Client ID (Consumer Key):</td><td><input type=text size=40 name=USPSClientID /></td></tr>"
           "<tr><td>Client Secret (Consumer Secret):</td><td><input type=password size=40 name=USPSClientSecret "
           "autocomplete=off /></td></tr>"
           "</table>";
}

// Characters, not bytes: the width of an input is counted in characters.
size_t characters(std::string_view text)
{
    size_t n = 0;
    for (unsigned char c : text)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

std::string inputWidth(std::string_view value)
{
    size_t length = characters(value);
    return std::to_string(length < 30 ? 30 : length + 10);
}

const OptionField *fieldFor(std::string_view key)
{
    for (const OptionField &f : optionFields())
        if (f.key == key) return &f;
    return nullptr;
}

std::string valueFor(const xml::Document &settings, std::string_view key)
{
    const OptionField *field = fieldFor(key);
    return field ? optionValue(settings, *field) : std::string();
}

// The keys in the order they are saved; the layouts go where "" stands.
const std::vector<std::string_view> &saveOrder()
{
    static const std::vector<std::string_view> order = {
        "ShippedMessageSubject",
        "ShippedMessage",
        "DeliveredNeedsFollowUpMessage",
        "InTransitMessage",
        "NotShippedMessage",
        "ArchivedMessage",
        "DazzleExePath",
        "FlagPostageDifferences",
        "ReturnAddress1",
        "ReturnAddress2",
        "ReturnAddress3",
        "ReturnAddress4",
        "ReturnAddress5",
        "ReturnAddress6",
        "Stealth",
        "InsuredMail",
        "CustomsSigner",
        "SMTPFrom",
        "SMTPServer",
        "SMTPPort",
        "DefaultBrowser",
        "",
        "PaypalAPIUser",
        "PaypalAPIPassword",
        "PaypalAPISignature",
        "PaypalAPIAuthMode",
        "UPSWorldShipAutoXMLImportFolder",
        "UPSAccount",
        "USPSTrackingApi",
        "USPSClientID",
        "USPSClientSecret",
    };
    return order;
}

void writeInput(const FormInputs &form, std::string_view key, xml::Document &settings)
{
    auto input = form.find(key);
    if (input == form.end()) return;
    const FormInput &in = input->second;
    settings::set(settings, key, in.checkbox ? (in.checked ? "True" : "False") : in.value);
}

// Runs `fill` with the names of the elements matching `selector` in the
// table, and sets their `path` to what it returns, in two exchanges.
void fillEach(page::Element table, std::string_view selector, std::string_view path,
              const std::function<std::string(const std::string &name)> &fill)
{
    std::vector<std::string> values;
    for (const auto &row : table.values(selector, {"@name"}))
        values.push_back(fill(row.empty() ? std::string() : row[0]));
    if (!values.empty()) table.setEach(selector, path, values);
}

} // namespace

const std::vector<OptionField> &optionFields()
{
    using F = OptionField;
    static const std::vector<OptionField> fields = {
        {"ShippedMessageSubject", F::Text, ""},
        {"ShippedMessage", F::TextArea, ""},
        {"DeliveredNeedsFollowUpMessage", F::TextArea, ""},
        {"InTransitMessage", F::TextArea, ""},
        {"NotShippedMessage", F::TextArea, ""},
        {"ArchivedMessage", F::TextArea, ""},
        {"SMTPServer", F::Text, ""},
        {"SMTPFrom", F::Text, ""},
        {"SMTPPort", F::Text, "25"},
        {"DefaultBrowser", F::Checkbox, ""},
        {"DazzleExePath", F::Text, settings::defaultFor("DazzleExePath")},
        {"FlagPostageDifferences", F::Checkbox, ""},
        {"ReturnAddress1", F::Text, ""},
        {"ReturnAddress2", F::Text, ""},
        {"ReturnAddress3", F::Text, ""},
        {"ReturnAddress4", F::Text, ""},
        {"ReturnAddress5", F::Text, ""},
        {"ReturnAddress6", F::Text, ""},
        {"Stealth", F::Checkbox, ""},
        {"InsuredMail", F::Select, "OFF"},
        {"CustomsSigner", F::Text, ""},
        {"PaypalAPIAuthMode", F::Select, "Signature"},
        {"PaypalAPIUser", F::Text, ""},
        {"PaypalAPIPassword", F::Password, ""},
        {"PaypalAPISignature", F::Password, ""},
        {"UPSAccount", F::Text, ""},
        {"UPSWorldShipAutoXMLImportFolder", F::Text, ""},
        {"USPSTrackingApi", F::Select, "WebTools"},
        {"USPSClientID", F::Text, ""},
        {"USPSClientSecret", F::Password, ""},
    };
    return fields;
}

std::vector<std::string> optionRows(bool found, std::string_view certificatePage)
{
    std::vector<std::string> rows = {
        "Default Message - Shipped<br/>Subject:  <input type=text size=80 name=ShippedMessageSubject><br/>"
        "<textarea cols=80 rows=6 name=ShippedMessage></textarea>",
        "Default Message - Delivered Needs Follow Up<br/>"
        "<textarea cols=80 rows=6 name=DeliveredNeedsFollowUpMessage></textarea>",
        "Default Message - In Transit<br/><textarea cols=80 rows=6 name=InTransitMessage></textarea>",
        "Default Message - Not Shipped<br/><textarea cols=80 rows=6 name=NotShippedMessage></textarea>",
        "Default Message - Archived<br/><textarea cols=80 rows=6 name=ArchivedMessage></textarea>",
        "SMTP Server<br/><input type=text name=SMTPServer />",
        "SMTP Email Address (shows as From in messages you send)<br/><input type=text name=SMTPFrom />",
        "SMTP Port<br/><input type=text name=SMTPPort />",
        "<input type=checkbox name=DefaultBrowser /> Use default internet browser instead of Internet Explorer",
        "Path to Endicia Dazzle Executable<br/><input type=text name=DazzleExePath />",
        "<input type=checkbox name=FlagPostageDifferences /> Flag orders that were over charged for shipping",
        "",
        "<input type=checkbox name=Stealth /> Use Stealth for domestic postage",
        "Default Dazzle Insurance:  <select name=\"InsuredMail\"><option value=\"OFF\">None</option>"
        "<option value=\"ENDICIA\">Endicia</option><option value=\"ON\">USPS</option>"
        "<option value=\"UPIC\">UPIC</option></select>",
        "Dazzle Customs Signer (Name of person certifying)<br/><input type=text size=40 name=CustomsSigner />",
        found ? layoutRow() : std::string(kDazzleNotice),
        paypalRow(certificatePage),
        "UPS WorldShip 10 Settings<br/><table border=0>"
        "<tr><td>UPS Account Number:</td><td><input type=text size=15 name=UPSAccount /></td></tr>"
        "<tr><td>Auto XML Import Folder:</td><td><input type=text size=30 name=UPSWorldShipAutoXMLImportFolder />"
        "</td></tr></table>",
        uspsRow(),
    };
    std::string address = "Dazzle Return Address<br>";
    for (int line = 1; line <= 6; ++line) {
        const std::string n = std::to_string(line);
        address += "Line " + n + ": <input type=text size=40 name=ReturnAddress" + n + " /><br>";
    }
    rows[11] = address;
    return rows;
}

std::string optionValue(const xml::Document &settings, const OptionField &field)
{
    return settings::read(settings, field.key, field.missingDefault);
}

bool dazzleFound(const std::filesystem::path &dazzleExe)
{
    std::error_code ec;
    return !dazzleExe.empty() && std::filesystem::is_regular_file(dazzleExe, ec);
}

void copyFormToSettings(const FormInputs &form, xml::Document &settings)
{
    for (std::string_view key : saveOrder()) {
        if (!key.empty()) {
            writeInput(form, key, settings);
            continue;
        }
        auto path = form.find("DazzleExePath");
        if (!form.count("DazzleLayout_FIRST") || path == form.end() || !dazzleFound(path->second.value)) continue;
        for (const settings::Layout &layout : settings::layouts()) {
            auto select = form.find(layoutKey(layout));
            // An empty list offered nothing to choose: the stored choice stays.
            if (select == form.end() || select->second.options == 0) continue;
            settings::set(settings, layoutKey(layout), select->second.value);
        }
    }
}

void DisplayOptions(Session &session, Shell &shell)
{
    shell.ProcessingImageDisplay("Loading Settings");
    const xml::Document &settingsDoc = session.store.settings();
    page::Page &page = shell.page();
    page::Element table = page.element("SettingsTable");
    if (!table) {
        shell.ProcessingImageHide();
        return;
    }

    const std::string dazzleExe = valueFor(settingsDoc, "DazzleExePath");
    const bool found = dazzleFound(dazzleExe);
    std::string html;
    int n = 0;
    for (const std::string &cell : optionRows(found, config().get("web/CertificatePage")))
        html +=
            std::string(n++ % 2 == 0 ? "<tr style=\"background-color: " + std::string(kRowColour) + "\">" : "<tr>") +
            "<td>" + cell + "</td></tr>";
    table.appendHTML(html);

    auto stored = [&](const std::string &name) { return valueFor(settingsDoc, name); };
    fillEach(table, kTextInputs, "value", stored);
    fillEach(table, kCheckboxes, "checked",
             [&](const std::string &name) { return settings::isOn(stored(name)) ? "true" : "false"; });
    fillEach(table, kPlainSelects, "value", stored);
    fillEach(table, kSizedInputs, "size", [&](const std::string &name) { return inputWidth(stored(name)); });

    if (found)
        for (const settings::Layout &layout : settings::layouts()) {
            const std::string key = layoutKey(layout);
            AddDazzleLayoutsToSelect(dazzleExe, page.element(key), settings::read(settingsDoc, key));
        }
    shell.ProcessingImageHide();
}

bool SaveSettings(Session &session, Shell &shell)
{
    FormInputs form;
    page::Element body = shell.page().body();
    for (const auto &v :
         body.values("input[name], textarea[name], select[name]", {"@name", "type", "value", "checked", "length"})) {
        if (v.size() != 5 || form.count(v[0])) continue; // the first of a name counts
        FormInput in;
        in.value = v[2];
        in.checkbox = v[1] == "checkbox";
        in.checked = v[3] == "true";
        if (v[1].rfind("select", 0) == 0) in.options = std::atoi(v[4].c_str());
        form.emplace(v[0], std::move(in));
    }
    if (!form.count("SMTPServer")) return false;
    copyFormToSettings(form, session.store.settings());
    return session.store.save(store::Doc::Settings);
}

void registerOptions(Session &session, Shell &shell, FeatureTable &table)
{
    table.addPageFill(std::string(kSettingsPage),
                      [&session, &shell](const std::string &) { DisplayOptions(session, shell); });
    // The navigation to the main page clears the status bar: the word that
    // the settings were saved is said again once the main page is there.
    auto saved = std::make_shared<bool>(false);
    table.addPageWatcher([&shell, saved](const std::string &url) {
        if (!*saved || !equalsNoCase(url, pages::url(kMainPage))) return;
        *saved = false;
        shell.setStatus("Settings saved.");
    });
    table.addAction("SaveSettings", [&session, &shell, saved](const Params &params) {
        auto button = params.find("Button");
        if (button == params.end()) return;
        if (button->second == "Cancel") {
            shell.navigate(pages::url(kMainPage));
        } else if (button->second == "Save+Settings") {
            // A save that failed keeps the page, and what was typed on it.
            if (!SaveSettings(session, shell)) {
                shell.setStatus("Error: the settings were not saved.");
                return;
            }
            shell.setStatus("Settings saved.");
            *saved = true;
            shell.navigate(pages::url(kMainPage));
        }
    });
}

} // namespace tw::ui
