#pragma once
// The options page (Tools > Options): the settings form drawn into the
// served page's SettingsTable, filled from Settings.xml, and its Save and
// Cancel links. Values are stored exactly as typed; nothing is trimmed or
// checked here (the features that use a value check it when they use it).

#include "platform/features.h"
#include "platform/shell.h"
#include "platform/xml.h"
#include "store/session.h"

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tw::ui {

// One input of the form; its element name is its settings key.
struct OptionField {
    enum Kind { Text, Password, TextArea, Checkbox, Select };
    std::string_view key;
    Kind kind;
    // What the input shows while the key is missing from Settings.xml.
    std::string_view missingDefault;
};

// The inputs of the form in page order, the DAZzle layout selects left out
// (their options come from DAZzle's folder).
const std::vector<OptionField> &optionFields();

// The rows of the form, each the HTML of its one cell, in order: the
// eighteen rows of the settings (messages, SMTP, browser, DAZzle, layouts,
// PayPal, WorldShip), then USPS tracking. The layout row holds the fourteen
// layout selects when `dazzleFound`, otherwise a red notice asking for the
// path to DAZzle first. `certificatePage` is the address of the PayPal
// certificate instructions (escaped here).
std::vector<std::string> optionRows(bool dazzleFound, std::string_view certificatePage);

// The text an input shows for its key: the stored text, or the field's
// default when the element is missing ("True"/"False" style flags read as
// "True" = checked).
std::string optionValue(const xml::Document &settings, const OptionField &field);

// Whether a file exists at `dazzleExe` (the layout selects need one).
bool dazzleFound(const std::filesystem::path &dazzleExe);

// The form as read back from the page, by element name.
struct FormInput {
    std::string value;
    bool checked = false;
    bool checkbox = false;
    int options = -1; // a select's option count; -1 for other inputs
};
using FormInputs = std::map<std::string, FormInput, std::less<>>;

// Copies the form into `settings` in the save order, without saving: each
// input present on the form is written to its key (a checkbox as "True" or
// "False"), an input missing from the form leaves its key alone. The layout
// selects are written only when the form has DazzleLayout_FIRST and a file
// exists at the form's DazzleExePath; a layout select without options (no
// layout files in DAZzle's folder) leaves its key alone. Saving twice
// writes the same elements again without adding any.
void copyFormToSettings(const FormInputs &form, xml::Document &settings);

// Fills the options page: shows "Loading Settings", draws the rows with
// alternating colours, fills every input, the layout selects from DAZzle's
// folder, widens the four inputs that have no size of their own, and hides
// the overlay.
void DisplayOptions(Session &session, Shell &shell);

// Reads the form from the page and saves Settings.xml once. False when the
// page holds no settings form (nothing changes) or the save failed (the
// store tells the seller why).
bool SaveSettings(Session &session, Shell &shell);

// The options page's fill and its SaveSettings link ("Save+Settings" saves,
// says "Settings saved." and returns to the main page; "Cancel" returns
// without saving). `session` and `shell` must outlive `table`.
void registerOptions(Session &session, Shell &shell, FeatureTable &table);

} // namespace tw::ui
