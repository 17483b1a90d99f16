#pragma once
// The processing overlay in a page: a small centred box with the animated
// image and a message, appended to whatever page is loaded. The window's
// Shell draws it with these and keeps track of whether it shows.

#include "platform/page.h"

#include <string_view>

namespace tw::ui {

// Shows the overlay with `message` (HTML, may be empty) under the image,
// creating the element at the end of the body when missing.
void ProcessingImageDisplay(page::Page &page, std::string_view message = {});
void ProcessingImageHide(page::Page &page);
// Centres the overlay again (after the page grew or scrolled).
void ProcessingImageReposition(page::Page &page);

} // namespace tw::ui
