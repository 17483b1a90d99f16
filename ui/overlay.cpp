#include "ui/overlay.h"

#include "pages/pages.h"
#include "platform/xml.h"

#include <string>

namespace tw::ui {
namespace {

constexpr std::string_view kElement =
    "<div align=\"center\" style=\"font-family: Tahoma;font-size: xx-small;position:absolute;\" "
    "name=\"ProcessingElement\" id=\"ProcessingElement\" ></div>";

void position(page::Page &page, page::Element &overlay)
{
    int top = page.bodyScrollTop() + page.bodyClientHeight() / 2;
    int left = page.bodyClientWidth() / 2 - overlay.clientWidth() / 2;
    overlay.setStyle("top", std::to_string(top) + "px");
    overlay.setStyle("left", std::to_string(left) + "px");
}

} // namespace

void ProcessingImageDisplay(page::Page &page, std::string_view message)
{
    page::Element overlay = page.element("ProcessingElement");
    if (!overlay) {
        page::Element body = page.body();
        if (!body) return;
        body.appendHTML(kElement);
        overlay = page.element("ProcessingElement");
        if (!overlay) return;
    }
    std::string html = "<img border=\"0\" src=\"" + xml::escape(pages::url("/korva/processing.gif")) + "\">";
    if (!message.empty()) html += "<br>" + std::string(message);
    overlay.setInnerHTML(html);
    overlay.setStyle("fontSize", "xx-small");
    overlay.setStyle("visibility", "");
    overlay.setStyle("borderWidth", "1px");
    overlay.setStyle("width", "200px");
    overlay.setStyle("padding", "5px");
    overlay.setStyle("borderStyle", "solid");
    overlay.setStyle("borderColor", "#000000");
    overlay.setStyle("backgroundColor", "#FFFFFF");
    position(page, overlay);
}

void ProcessingImageHide(page::Page &page)
{
    if (page::Element overlay = page.element("ProcessingElement")) overlay.setStyle("visibility", "hidden");
}

void ProcessingImageReposition(page::Page &page)
{
    if (page::Element overlay = page.element("ProcessingElement")) position(page, overlay);
}

} // namespace tw::ui
