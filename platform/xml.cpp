#include "platform/xml.h"

#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlsave.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>
#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/variables.h>
#include <libxslt/xsltInternals.h>
#include <libxslt/xsltutils.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <list>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace tw::xml {
namespace {

const xmlChar *X(const std::string &s)
{
    return reinterpret_cast<const xmlChar *>(s.c_str());
}
std::string S(const xmlChar *s)
{
    return s ? std::string(reinterpret_cast<const char *>(s)) : std::string();
}

// libxml2 reports errors through per-thread global handlers; we collect the
// last message instead of letting it print to stderr.
thread_local std::string t_lastError;

void collectError(void *, xmlErrorPtr error)
{
    if (!error) return;
    std::string message = error->message ? error->message : "unknown error";
    while (!message.empty() && (message.back() == '\n' || message.back() == ' '))
        message.pop_back();
    if (error->line > 0) message = "line " + std::to_string(error->line) + ": " + message;
    t_lastError = message;
}

void ensureInit()
{
    thread_local bool done = false;
    if (done) return;
    done = true;
    xmlInitParser();
    xmlSetStructuredErrorFunc(nullptr, collectError);
    // Stylesheets may read their input, nothing else.
    static xsltSecurityPrefsPtr prefs = [] {
        xsltSecurityPrefsPtr p = xsltNewSecurityPrefs();
        xsltSetSecurityPrefs(p, XSLT_SECPREF_WRITE_FILE, xsltSecurityForbid);
        xsltSetSecurityPrefs(p, XSLT_SECPREF_CREATE_DIRECTORY, xsltSecurityForbid);
        xsltSetSecurityPrefs(p, XSLT_SECPREF_WRITE_NETWORK, xsltSecurityForbid);
        xsltSetSecurityPrefs(p, XSLT_SECPREF_READ_NETWORK, xsltSecurityForbid);
        xsltSetSecurityPrefs(p, XSLT_SECPREF_READ_FILE, xsltSecurityForbid);
        xsltSetDefaultSecurityPrefs(p);
        return p;
    }();
    (void)prefs;
}

// COMPACT keeps short texts inside their nodes: a large store takes less memory.
constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_BIG_LINES | XML_PARSE_COMPACT;

// --- local-name rewriting of XPath -----------------------------------------

bool isNameStart(unsigned char c)
{
    return std::isalpha(c) || c == '_' || c >= 0x80;
}
bool isNameChar(unsigned char c)
{
    return isNameStart(c) || std::isdigit(c) || c == '.' || c == '-';
}

} // namespace

std::string localNameXPath(std::string_view in)
{
    std::string out;
    out.reserve(in.size() * 2);
    size_t i = 0;
    const size_t n = in.size();
    // True where the grammar expects an operand (a name here is a name test,
    // not an operator name such as "and").
    bool operand = true;
    bool attributeAxis = false;

    auto skipSpace = [&](size_t p) {
        while (p < n && (in[p] == ' ' || in[p] == '\t' || in[p] == '\r' || in[p] == '\n'))
            ++p;
        return p;
    };

    while (i < n) {
        unsigned char c = in[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            out += char(c);
            ++i;
            continue;
        }
        if (c == '"' || c == '\'') {
            size_t end = in.find(char(c), i + 1);
            if (end == std::string_view::npos) end = n - 1;
            out.append(in.substr(i, end - i + 1));
            i = end + 1;
            operand = false;
            continue;
        }
        if (std::isdigit(c) || (c == '.' && i + 1 < n && std::isdigit((unsigned char)in[i + 1]))) {
            size_t start = i;
            while (i < n && (std::isdigit((unsigned char)in[i]) || in[i] == '.'))
                ++i;
            out.append(in.substr(start, i - start));
            operand = false;
            continue;
        }
        if (c == '$') {
            size_t start = i++;
            while (i < n && (isNameChar(in[i]) || in[i] == ':'))
                ++i;
            out.append(in.substr(start, i - start));
            operand = false;
            continue;
        }
        if (isNameStart(c)) {
            size_t start = i;
            while (i < n && isNameChar(in[i]))
                ++i;
            std::string_view name = in.substr(start, i - start);
            if (!operand) { // operator name: and, or, div, mod
                out.append(name);
                operand = true;
                continue;
            }
            size_t after = skipSpace(i);
            if (after < n && in[after] == '(') { // function or node type
                out.append(name);
                operand = true; // "(" follows
                continue;
            }
            if (after + 1 < n && in[after] == ':' && in[after + 1] == ':') { // axis
                out.append(name);
                attributeAxis = (name == "attribute" || name == "namespace");
                out.append(in.substr(i, after + 2 - i));
                i = after + 2;
                operand = true;
                continue;
            }
            if (i + 1 < n && in[i] == ':' && (isNameStart(in[i + 1]) || in[i + 1] == '*')) {
                // Prefixed name test: strict namespace match.
                size_t end = i + 1;
                if (in[end] == '*')
                    ++end;
                else
                    while (end < n && isNameChar(in[end]))
                        ++end;
                out.append(in.substr(start, end - start));
                i = end;
                operand = false;
                attributeAxis = false;
                continue;
            }
            if (attributeAxis)
                out.append(name);
            else {
                out += "*[local-name()='";
                out.append(name);
                out += "']";
            }
            attributeAxis = false;
            operand = false;
            continue;
        }
        // Punctuation and operators.
        switch (c) {
        case '@':
            out += '@';
            ++i;
            attributeAxis = true;
            operand = true;
            continue;
        case '(':
        case '[':
        case ',':
            out += char(c);
            ++i;
            operand = true;
            continue;
        case ')':
        case ']':
            out += char(c);
            ++i;
            operand = false;
            continue;
        case '.':
            if (i + 1 < n && in[i + 1] == '.') {
                out += "..";
                i += 2;
            } else {
                out += '.';
                ++i;
            }
            operand = false;
            continue;
        case '*':
            out += '*';
            ++i;
            if (operand) { // wildcard name test
                attributeAxis = false;
                operand = false;
            } else {
                operand = true; // multiply
            }
            continue;
        default:
            // / // | + - = != < <= > >= and anything unexpected
            out += char(c);
            ++i;
            operand = true;
            attributeAxis = false;
            continue;
        }
    }
    return out;
}

namespace {

// Compiled queries, reused: the program asks the same few dozen queries over
// and over.
class XPathCache {
  public:
    xmlXPathCompExprPtr get(std::string_view xpath)
    {
        std::string key(xpath);
        auto it = m_map.find(key);
        if (it != m_map.end()) {
            m_order.splice(m_order.begin(), m_order, it->second.second);
            return it->second.first;
        }
        std::string rewritten = localNameXPath(xpath);
        xmlXPathCompExprPtr comp = xmlXPathCompile(X(rewritten));
        if (!comp) return nullptr;
        if (m_map.size() >= kCapacity) {
            auto &victim = m_order.back();
            auto vit = m_map.find(victim);
            xmlXPathFreeCompExpr(vit->second.first);
            m_map.erase(vit);
            m_order.pop_back();
        }
        m_order.push_front(key);
        m_map.emplace(key, std::make_pair(comp, m_order.begin()));
        return comp;
    }
    ~XPathCache()
    {
        for (auto &entry : m_map)
            xmlXPathFreeCompExpr(entry.second.first);
    }

  private:
    static constexpr size_t kCapacity = 512;
    std::list<std::string> m_order;
    std::unordered_map<std::string, std::pair<xmlXPathCompExprPtr, std::list<std::string>::iterator>> m_map;
};

std::vector<Node> evaluate(xmlNodePtr context, std::string_view xpath, const Vars &vars, bool firstOnly)
{
    std::vector<Node> result;
    if (!context || !context->doc) return result;
    ensureInit();
    thread_local XPathCache cache;
    xmlXPathCompExprPtr comp = cache.get(xpath);
    if (!comp) return result;
    xmlXPathContextPtr ctxt = xmlXPathNewContext(context->doc);
    if (!ctxt) return result;
    ctxt->node = context;
    xmlXPathRegisterNs(ctxt, BAD_CAST "ebay", BAD_CAST "urn:ebay:apis:eBLBaseComponents");
    for (const auto &[name, value] : vars)
        xmlXPathRegisterVariable(ctxt, X(name), xmlXPathNewString(X(value)));
    xmlXPathObjectPtr obj = xmlXPathCompiledEval(comp, ctxt);
    if (obj && obj->type == XPATH_NODESET && obj->nodesetval) {
        int count = obj->nodesetval->nodeNr;
        if (firstOnly && count > 1) count = 1;
        result.reserve(count);
        for (int k = 0; k < count; ++k)
            result.emplace_back(obj->nodesetval->nodeTab[k]);
    }
    if (obj) xmlXPathFreeObject(obj);
    xmlXPathFreeContext(ctxt);
    return result;
}

// Keeps only what XML 1.0 can hold: valid UTF-8 without the forbidden
// control characters. Broken sequences become U+FFFD.
std::string cleanText(std::string_view in)
{
    std::string out;
    out.reserve(in.size());
    size_t i = 0;
    while (i < in.size()) {
        unsigned char c = in[i];
        if (c < 0x80) {
            if (c >= 0x20 || c == '\t' || c == '\n' || c == '\r') out += char(c);
            ++i;
            continue;
        }
        int len = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
        bool ok = len > 0 && i + len <= in.size();
        uint32_t cp = 0;
        if (ok) {
            cp = c & (0x7F >> len);
            for (int k = 1; k < len; ++k) {
                unsigned char cc = in[i + k];
                if ((cc & 0xC0) != 0x80) {
                    ok = false;
                    break;
                }
                cp = (cp << 6) | (cc & 0x3F);
            }
        }
        if (ok) {
            static const uint32_t minimum[5] = {0, 0, 0x80, 0x800, 0x10000};
            ok =
                cp >= minimum[len] && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF) && cp != 0xFFFE && cp != 0xFFFF;
        }
        if (ok) {
            out.append(in.substr(i, len));
            i += len;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

} // namespace

// --- Node ------------------------------------------------------------------

bool Node::isElement() const
{
    return m_node && m_node->type == XML_ELEMENT_NODE;
}

std::string Node::name() const
{
    return m_node ? S(m_node->name) : std::string();
}

std::string Node::namespaceUri() const
{
    return (m_node && m_node->ns) ? S(m_node->ns->href) : std::string();
}

bool Node::hasName(std::string_view localName) const
{
    return m_node && m_node->name && std::string_view(reinterpret_cast<const char *>(m_node->name)) == localName;
}

bool Node::inNamespace(std::string_view uri) const
{
    const std::string_view href =
        m_node && m_node->ns && m_node->ns->href ? reinterpret_cast<const char *>(m_node->ns->href) : "";
    return href == uri;
}

std::string Node::text() const
{
    if (!m_node) return {};
    // Most elements hold one text node: read it without a copy in between.
    if (m_node->type == XML_ELEMENT_NODE) {
        xmlNodePtr child = m_node->children;
        if (!child) return {};
        if (!child->next && child->type == XML_TEXT_NODE) return S(child->content);
    }
    xmlChar *content = xmlNodeGetContent(m_node);
    std::string result = S(content);
    xmlFree(content);
    return result;
}

void Node::setText(std::string_view text)
{
    if (!m_node) return;
    std::string clean = cleanText(text);
    if (m_node->type == XML_ATTRIBUTE_NODE) {
        xmlSetProp(m_node->parent, m_node->name, X(clean));
        return;
    }
    xmlNodeSetContent(m_node, nullptr);
    if (!clean.empty()) xmlNodeAddContentLen(m_node, X(clean), int(clean.size()));
}

bool Node::hasAttribute(std::string_view name) const
{
    return isElement() && xmlHasProp(m_node, X(std::string(name))) != nullptr;
}

std::string Node::attribute(std::string_view name) const
{
    if (!isElement()) return {};
    xmlChar *value = xmlGetProp(m_node, X(std::string(name)));
    std::string result = S(value);
    xmlFree(value);
    return result;
}

void Node::setAttribute(std::string_view name, std::string_view value)
{
    if (!isElement()) return;
    xmlSetProp(m_node, X(std::string(name)), X(cleanText(value)));
}

void Node::removeAttribute(std::string_view name)
{
    if (!isElement()) return;
    if (xmlAttrPtr attr = xmlHasProp(m_node, X(std::string(name)))) xmlRemoveProp(attr);
}

Node Node::parent() const
{
    return (m_node && m_node->parent && m_node->parent->type != XML_DOCUMENT_NODE) ? Node(m_node->parent) : Node();
}

Node Node::firstElement() const
{
    if (!m_node) return {};
    for (xmlNodePtr c = m_node->children; c; c = c->next)
        if (c->type == XML_ELEMENT_NODE) return Node(c);
    return {};
}

Node Node::lastElement() const
{
    if (!m_node) return {};
    for (xmlNodePtr c = m_node->last; c; c = c->prev)
        if (c->type == XML_ELEMENT_NODE) return Node(c);
    return {};
}

Node Node::nextElement() const
{
    if (!m_node) return {};
    for (xmlNodePtr c = m_node->next; c; c = c->next)
        if (c->type == XML_ELEMENT_NODE) return Node(c);
    return {};
}

Node Node::previousElement() const
{
    if (!m_node) return {};
    for (xmlNodePtr c = m_node->prev; c; c = c->prev)
        if (c->type == XML_ELEMENT_NODE) return Node(c);
    return {};
}

std::vector<Node> Node::elements() const
{
    std::vector<Node> result;
    for (Node c = firstElement(); c; c = c.nextElement())
        result.push_back(c);
    return result;
}

Node Node::element(std::string_view localName) const
{
    for (Node c = firstElement(); c; c = c.nextElement())
        if (c.m_node->name && localName == reinterpret_cast<const char *>(c.m_node->name)) return c;
    return {};
}

Node Node::select(std::string_view xpath, const Vars &vars) const
{
    auto nodes = evaluate(m_node, xpath, vars, true);
    return nodes.empty() ? Node() : nodes.front();
}

std::vector<Node> Node::selectAll(std::string_view xpath, const Vars &vars) const
{
    return evaluate(m_node, xpath, vars, false);
}

Node Node::appendElement(std::string_view name, std::string_view text)
{
    if (!m_node || !m_node->doc) return {};
    xmlNodePtr child = xmlNewDocNode(m_node->doc, nullptr, X(std::string(name)), nullptr);
    if (!child) return {};
    if (m_node->type == XML_ELEMENT_NODE) child->ns = m_node->ns;
    xmlAddChild(m_node, child);
    Node result(child);
    if (!text.empty()) result.setText(text);
    return result;
}

Node Node::append(Node child)
{
    if (!m_node || !child) return {};
    xmlNodePtr c = child.m_node;
    if (c->doc != m_node->doc) {
        c = xmlDocCopyNode(c, m_node->doc, 1);
        if (!c) return {};
    } else {
        xmlUnlinkNode(c);
    }
    return Node(xmlAddChild(m_node, c));
}

Node Node::insertBefore(Node child, Node reference)
{
    if (!reference) return append(child);
    if (!m_node || !child || reference.m_node->parent != m_node) return {};
    xmlNodePtr c = child.m_node;
    if (c->doc != m_node->doc) {
        c = xmlDocCopyNode(c, m_node->doc, 1);
        if (!c) return {};
    } else {
        xmlUnlinkNode(c);
    }
    return Node(xmlAddPrevSibling(reference.m_node, c));
}

void Node::remove()
{
    if (!m_node || m_node->type == XML_DOCUMENT_NODE) return;
    xmlUnlinkNode(m_node);
    xmlFreeNode(m_node);
    m_node = nullptr;
}

Node Node::nextSibling() const
{
    return m_node ? Node(m_node->next) : Node();
}

void Node::detach()
{
    if (m_node && m_node->type != XML_DOCUMENT_NODE) xmlUnlinkNode(m_node);
}

Node Node::replaceWith(Node replacement)
{
    if (!m_node || !replacement || !m_node->parent) return {};
    Node parentNode(m_node->parent);
    Node placed = parentNode.insertBefore(replacement, *this);
    if (placed) remove();
    return placed;
}

std::string Node::xml() const
{
    if (!m_node) return {};
    xmlBufferPtr buffer = xmlBufferCreate();
    xmlNodeDump(buffer, m_node->doc, m_node, 0, 0);
    std::string result(reinterpret_cast<const char *>(xmlBufferContent(buffer)), xmlBufferLength(buffer));
    xmlBufferFree(buffer);
    return result;
}

// --- Document ----------------------------------------------------------------

void Document::Free::operator()(xmlDocPtr doc) const
{
    xmlFreeDoc(doc);
}

Document::Document()
{
    ensureInit();
    m_doc.reset(xmlNewDoc(BAD_CAST "1.0"));
    m_doc->encoding = xmlStrdup(BAD_CAST "utf-8");
}

Document::Document(xmlDocPtr adopt) : m_doc(adopt)
{
    ensureInit();
}

Document::~Document() = default;

Document Document::parse(std::string_view text, std::string *error)
{
    ensureInit();
    t_lastError.clear();
    xmlDocPtr doc = xmlReadMemory(text.data(), int(text.size()), nullptr, nullptr, kParseOptions);
    if (!doc && error) *error = t_lastError.empty() ? "not XML" : t_lastError;
    if (doc && !xmlDocGetRootElement(doc)) {
        xmlFreeDoc(doc);
        doc = nullptr;
        if (error) *error = "no root element";
    }
    return Document(doc);
}

namespace {

// Answers from outside never need a document type declaration; one could
// only bring entities that would be copied into the store as references it
// cannot read back. The parse stops at the declaration, before its content.
struct UntrustedParse {
    bool declarationSeen = false;
};

void refuseDeclaration(void *context, const xmlChar *, const xmlChar *, const xmlChar *)
{
    auto *ctxt = static_cast<xmlParserCtxtPtr>(context);
    static_cast<UntrustedParse *>(ctxt->_private)->declarationSeen = true;
    xmlStopParser(ctxt);
}

} // namespace

Document Document::parseUntrusted(std::string_view text, std::string *error)
{
    ensureInit();
    t_lastError.clear();
    xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
    if (!ctxt) {
        if (error) *error = "out of memory";
        return Document(nullptr);
    }
    UntrustedParse state;
    ctxt->_private = &state;
    ctxt->sax->internalSubset = refuseDeclaration;
    // No DTD loading, no entity substitution, no network; libxml2's default
    // limits on depth and sizes stay on.
    xmlDocPtr doc = xmlCtxtReadMemory(ctxt, text.data(), int(text.size()), nullptr, nullptr, XML_PARSE_NONET);
    xmlFreeParserCtxt(ctxt);
    std::string problem;
    if (state.declarationSeen || (doc && (doc->intSubset || doc->extSubset)))
        problem = "a document type declaration is not accepted in an answer";
    else if (!doc)
        problem = t_lastError.empty() ? "not XML" : t_lastError;
    else if (!xmlDocGetRootElement(doc))
        problem = "no root element";
    if (problem.empty()) return Document(doc);
    if (doc) xmlFreeDoc(doc);
    if (error) *error = problem;
    return Document(nullptr);
}

Document Document::load(const std::filesystem::path &file, std::string *error)
{
    ensureInit();
    t_lastError.clear();
    xmlDocPtr doc = xmlReadFile(file.c_str(), nullptr, kParseOptions);
    if (!doc && error) *error = t_lastError.empty() ? "cannot read " + file.string() : t_lastError;
    return Document(doc);
}

Node Document::root() const &
{
    return m_doc ? Node(xmlDocGetRootElement(m_doc.get())) : Node();
}

void Document::setRoot(Node element)
{
    if (!m_doc || !element) return;
    xmlNodePtr e = element.raw();
    if (e->doc != m_doc.get())
        e = xmlDocCopyNode(e, m_doc.get(), 1);
    else
        xmlUnlinkNode(e);
    xmlNodePtr old = xmlDocSetRootElement(m_doc.get(), e);
    if (old) xmlFreeNode(old);
}

Node Document::createElement(std::string_view name, std::string_view nsUri)
{
    if (!m_doc) return {};
    xmlNodePtr node = xmlNewDocNode(m_doc.get(), nullptr, X(std::string(name)), nullptr);
    if (node && !nsUri.empty()) {
        xmlNsPtr ns = xmlNewNs(node, X(std::string(nsUri)), nullptr);
        xmlSetNs(node, ns);
    }
    return Node(node);
}

Node Document::importNode(Node node, bool deep)
{
    if (!m_doc || !node) return {};
    // 2 copies attributes and namespaces without children.
    return Node(xmlDocCopyNode(node.raw(), m_doc.get(), deep ? 1 : 2));
}

Document Document::clone() const
{
    if (!m_doc) return Document(nullptr);
    return Document(xmlCopyDoc(m_doc.get(), 1));
}

std::string Document::toString() const
{
    if (!m_doc) return {};
    xmlChar *mem = nullptr;
    int size = 0;
    xmlDocDumpMemoryEnc(m_doc.get(), &mem, &size, "UTF-8");
    std::string result(reinterpret_cast<const char *>(mem), size);
    xmlFree(mem);
    return result;
}

namespace {

struct TempFile {
    std::filesystem::path path;
    int fd = -1;
    bool keep = false;
    ~TempFile()
    {
        if (fd >= 0) ::close(fd);
        if (!keep && !path.empty()) ::unlink(path.c_str());
    }
};

bool openTemp(const std::filesystem::path &file, TempFile &tmp, std::string *error, bool ownerOnly)
{
    std::string pattern = file.string() + ".saving-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    tmp.fd = ::mkstemp(name.data());
    if (tmp.fd < 0) {
        if (error) *error = "cannot create a file beside " + file.string() + ": " + std::strerror(errno);
        return false;
    }
    tmp.path = name.data();
    // The file takes the place of the old one and keeps its permissions; a
    // new file, or one that holds secrets (Settings.xml: the eBay token and
    // the PayPal credentials), is the user's alone.
    struct stat existing {};
    mode_t mode = 0600;
    if (!ownerOnly && ::stat(file.c_str(), &existing) == 0) mode = existing.st_mode & 07777;
    if (::fchmod(tmp.fd, mode) != 0) {
        if (error) *error = "cannot set the permissions of " + tmp.path.string() + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

// Whether load() would read the file `path`: the same parser and options,
// with the document type and its entities recorded as a load records them,
// but without building the elements, which is most of a load's cost. The
// file is read a piece at a time: a large store file is never held twice.
bool readsBack(const std::filesystem::path &path, std::string *problem)
{
    t_lastError.clear();
    xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
    if (!ctxt) {
        *problem = "out of memory";
        return false;
    }
    xmlSAXHandlerPtr sax = ctxt->sax;
    sax->startElementNs = [](void *, const xmlChar *, const xmlChar *, const xmlChar *, int, const xmlChar **, int, int,
                             const xmlChar **) {};
    sax->endElementNs = [](void *, const xmlChar *, const xmlChar *, const xmlChar *) {};
    sax->characters = nullptr;
    sax->ignorableWhitespace = nullptr;
    sax->cdataBlock = nullptr;
    sax->comment = nullptr;
    sax->processingInstruction = nullptr;
    sax->reference = nullptr;
    xmlDocPtr doc = xmlCtxtReadFile(ctxt, path.c_str(), nullptr, kParseOptions);
    xmlFreeParserCtxt(ctxt);
    if (doc) {
        xmlFreeDoc(doc);
        return true;
    }
    *problem = t_lastError.empty() ? "not XML" : t_lastError;
    return false;
}

bool writeAll(TempFile &tmp, std::string_view bytes, std::string *error)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t w = ::write(tmp.fd, bytes.data() + done, bytes.size() - done);
        if (w < 0) {
            if (errno == EINTR) continue;
            if (error) *error = "cannot write " + tmp.path.string() + ": " + std::strerror(errno);
            return false;
        }
        done += size_t(w);
    }
    return true;
}

bool finish(const std::filesystem::path &file, TempFile &tmp, std::string *error,
            const std::function<bool()> &beforeRename)
{
    if (::fsync(tmp.fd) != 0) {
        if (error) *error = "cannot flush " + tmp.path.string() + ": " + std::strerror(errno);
        return false;
    }
    ::close(tmp.fd);
    tmp.fd = -1;
    if (beforeRename && !beforeRename()) {
        if (error) *error = "save abandoned";
        return false;
    }
    if (::rename(tmp.path.c_str(), file.c_str()) != 0) {
        if (error) *error = "cannot replace " + file.string() + ": " + std::strerror(errno);
        return false;
    }
    tmp.keep = true;
    // Make the rename itself durable.
    std::filesystem::path dir = file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
    int dirfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (dirfd >= 0) {
        ::fsync(dirfd);
        ::close(dirfd);
    }
    return true;
}

} // namespace

bool writeFileAtomically(const std::filesystem::path &file, std::string_view bytes, std::string *error,
                         const SaveOptions &options)
{
    TempFile tmp;
    if (!openTemp(file, tmp, error, options.ownerOnly)) return false;
    if (!writeAll(tmp, bytes, error)) return false;
    return finish(file, tmp, error, options.beforeRename);
}

bool Document::save(const std::filesystem::path &file, std::string *error, const SaveOptions &options) const
{
    if (!m_doc) {
        if (error) *error = "nothing to save";
        return false;
    }
    TempFile tmp;
    if (!openTemp(file, tmp, error, options.ownerOnly)) return false;
    // Written straight to the file, a piece at a time: a store file of a
    // hundred megabytes is not held in memory a second time while it saves.
    xmlSaveCtxtPtr ctxt = xmlSaveToFd(tmp.fd, "UTF-8", 0);
    if (!ctxt) {
        if (error) *error = "cannot start writing " + file.string();
        return false;
    }
    long written = xmlSaveDoc(ctxt, m_doc.get());
    int closed = xmlSaveClose(ctxt);
    if (written < 0 || closed < 0) {
        if (error) *error = "cannot write " + tmp.path.string();
        return false;
    }

    // A file that does not read back would be kept aside at the next start
    // and its records lost: refuse it and keep the previous file.
    std::string problem;
    if (!readsBack(tmp.path, &problem)) {
        if (error) *error = "its text would not read back (" + problem + "); the previous file is kept";
        return false;
    }
    return finish(file, tmp, error, options.beforeRename);
}

Document transform(const Document &stylesheet, const Document &input, const Vars &stringParams, std::string *error)
{
    ensureInit();
    t_lastError.clear();
    if (!stylesheet || !input) {
        if (error) *error = "no stylesheet or no input";
        return Document(nullptr);
    }
    // The stylesheet takes ownership of the document it is parsed from, but
    // only when it is one: otherwise the copy is still ours to free.
    xmlDocPtr copy = xmlCopyDoc(stylesheet.raw(), 1);
    xsltStylesheetPtr style = xsltParseStylesheetDoc(copy);
    if (!style) {
        xmlFreeDoc(copy);
        if (error) *error = t_lastError.empty() ? "not a stylesheet" : t_lastError;
        return Document(nullptr);
    }
    xsltTransformContextPtr ctxt = xsltNewTransformContext(style, input.raw());
    xsltSetCtxtSecurityPrefs(xsltGetDefaultSecurityPrefs(), ctxt);
    for (const auto &[name, value] : stringParams)
        xsltQuoteOneUserParam(ctxt, X(name), X(value));
    xmlDocPtr result = xsltApplyStylesheetUser(style, input.raw(), nullptr, nullptr, nullptr, ctxt);
    if (!result && error) *error = t_lastError.empty() ? "transformation failed" : t_lastError;
    xsltFreeTransformContext(ctxt);
    xsltFreeStylesheet(style);
    return Document(result);
}

std::string escape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break; // understood by HTML as well as XML
        default:
            out += c;
        }
    }
    return out;
}

} // namespace tw::xml
