#pragma once
// The postage forms in the browser: what the seller typed read back, and what
// the program fills written, each in one or two exchanges with the browser
// however many fields there are.

#include "platform/page.h"
#include "postage/form.h"

#include <string>
#include <utility>
#include <vector>

namespace tw::postage {

// Every input, select and text area of the page under its name (its id when
// it has none); where a name repeats, the first element counts. Check boxes
// read "True" or "False", radio buttons the value of the ticked one.
FormValues readForm(page::Page &page);

// Sets property `path` ("value", "checked", "disabled") of the first element
// whose id or name is each key, as Page::element would find it; keys the
// page lacks are skipped. Booleans travel as "true" and "false".
void setByKey(page::Page &page, std::string_view path, const std::vector<std::pair<std::string, std::string>> &values);

// Whether the form shows its customs section: the style visibility of the
// element "customs" is empty (an element the page lacks counts as shown,
// like an empty style).
bool customsVisible(page::Page &page);

} // namespace tw::postage
