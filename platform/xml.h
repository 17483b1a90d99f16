#pragma once
// XML documents over libxml2 and libxslt.
//
// Queries are XPath 1.0 whose element name tests match by local name, whatever
// namespace the elements carry: "Transaction/Item/ItemID" finds eBay's
// namespaced records as well as plain ones. Prefixed names ("ebay:Item") keep
// their strict meaning; the prefix "ebay" is bound to eBay's namespace.
// Values go into queries as XPath variables ($name), never as query text.
//
// Nodes are non-owning handles into a Document; they stay valid until the
// node is removed or its document destroyed. Invalid queries and null nodes
// never throw: selections come back empty.

#include <libxml/tree.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tw::xml {

inline constexpr std::string_view kEbayNamespace = "urn:ebay:apis:eBLBaseComponents";

// Named values bound to $name in a query.
using Vars = std::vector<std::pair<std::string, std::string>>;

class Node {
  public:
    Node() = default;
    explicit Node(xmlNodePtr node) : m_node(node) {}

    explicit operator bool() const { return m_node != nullptr; }
    bool operator==(const Node &other) const = default;
    xmlNodePtr raw() const { return m_node; }

    bool isElement() const;
    std::string name() const; // local name
    std::string namespaceUri() const;
    // The same compared in place, without a copy: for loops over many nodes.
    bool hasName(std::string_view localName) const;
    bool inNamespace(std::string_view uri) const;

    // Text content of the node and its descendants ("" for a null node).
    std::string text() const;
    // Replaces all children by one text node. Text that XML cannot hold
    // (control characters, broken UTF-8) is cleaned so the file stays readable.
    void setText(std::string_view text);

    bool hasAttribute(std::string_view name) const;
    std::string attribute(std::string_view name) const;
    void setAttribute(std::string_view name, std::string_view value);
    void removeAttribute(std::string_view name);

    Node parent() const;
    Node firstElement() const;
    Node lastElement() const;
    Node nextElement() const;
    Node previousElement() const;
    // The next node of any kind (text included): where a detached node goes
    // back to.
    Node nextSibling() const;
    std::vector<Node> elements() const;
    // First child element with this local name.
    Node element(std::string_view localName) const;

    Node select(std::string_view xpath, const Vars &vars = {}) const;
    std::vector<Node> selectAll(std::string_view xpath, const Vars &vars = {}) const;

    // A new element appended as the last child; it takes this node's
    // namespace, so the document reads back the same after a save.
    Node appendElement(std::string_view name, std::string_view text = {});
    // Moves `child` to be this node's last child. A node of another document
    // is deep-copied in instead; the node now in this document is returned.
    Node append(Node child);
    Node insertBefore(Node child, Node reference);
    // Unlinks and frees this node; every handle to it becomes invalid.
    void remove();
    // Unlinks this node without freeing it: it stays valid and unattached
    // (see Document::createElement) until it is attached again or removed.
    void detach();
    // Puts `replacement` in this node's place and frees this node.
    Node replaceWith(Node replacement);

    // The node serialised as XML text.
    std::string xml() const;
    xmlDocPtr document() const { return m_node ? m_node->doc : nullptr; }

  private:
    xmlNodePtr m_node = nullptr;
};

// How Document::save and writeFileAtomically write a file.
struct SaveOptions {
    // Called after the temporary file is complete and before it replaces
    // the real one; returning false abandons the save (tests use it).
    std::function<bool()> beforeRename;
    // The file is made readable and writable by its owner only, whatever
    // mode the one it replaces had: for files that hold secrets.
    bool ownerOnly = false;
};

class Document {
  public:
    Document(); // a new empty document (no root)
    explicit Document(xmlDocPtr adopt);
    Document(Document &&) noexcept = default;
    Document &operator=(Document &&) noexcept = default;
    ~Document();

    // Parse text or a file. On failure the result is null and `error` (when
    // given) holds the parser's message with its line.
    static Document parse(std::string_view text, std::string *error = nullptr);
    static Document load(const std::filesystem::path &file, std::string *error = nullptr);
    // Parses text from outside the program (eBay, USPS, a pages server): no
    // DTD is loaded, no entity substituted, nothing fetched, and text with a
    // document type declaration is refused like text that is not XML. A
    // document without a root element is refused too. Null on refusal, with
    // the reason in `error`.
    static Document parseUntrusted(std::string_view text, std::string *error = nullptr);

    bool isNull() const { return !m_doc; }
    explicit operator bool() const { return bool(m_doc); }
    xmlDocPtr raw() const { return m_doc.get(); }

    // Nodes live as long as their document: asking a temporary document for
    // nodes would hand out dangling handles, so it does not compile.
    Node root() const &;
    Node root() const && = delete;
    void setRoot(Node element);
    // The document node itself: the context for queries like "Settings/Key".
    Node node() const & { return Node(reinterpret_cast<xmlNodePtr>(m_doc.get())); }
    Node node() const && = delete;

    Node select(std::string_view xpath, const Vars &vars = {}) const & { return node().select(xpath, vars); }
    Node select(std::string_view, const Vars & = {}) const && = delete;
    std::vector<Node> selectAll(std::string_view xpath, const Vars &vars = {}) const &
    {
        return node().selectAll(xpath, vars);
    }
    std::vector<Node> selectAll(std::string_view, const Vars & = {}) const && = delete;

    // A new, unattached element, in namespace `nsUri` when it is not empty.
    // An unattached node is not freed with the document: attach it (append,
    // insertBefore, setRoot, replaceWith) or free it with remove().
    Node createElement(std::string_view name, std::string_view nsUri = {});
    // A copy of `node` (from any document) for this one, unattached (see
    // createElement). deep=false copies the element with its attributes but
    // no children.
    Node importNode(Node node, bool deep);
    Document clone() const;

    std::string toString() const;

    using SaveOptions = xml::SaveOptions;
    // Writes the whole document to a temporary file in the same folder,
    // flushes it to disk and renames it over `file`, so an interrupted save
    // leaves the previous file whole. A text that would not read back (an
    // entity reference without its declaration, say) is not written at all.
    // The file keeps the permissions of the one it replaces; a new file is
    // readable and writable by its owner only. Returns false with `error` on
    // failure; the previous file is then untouched.
    bool save(const std::filesystem::path &file, std::string *error = nullptr, const SaveOptions &options = {}) const;

  private:
    struct Free {
        void operator()(xmlDocPtr doc) const;
    };
    std::unique_ptr<xmlDoc, Free> m_doc;
};

// Writes `bytes` to `file` the same atomic way, with the same permissions and
// options, as Document::save (without the read-back check).
bool writeFileAtomically(const std::filesystem::path &file, std::string_view bytes, std::string *error = nullptr,
                         const SaveOptions &options = {});

// Applies an XSLT 1.0 stylesheet. String parameters are passed as values,
// never as XPath text. A null document comes back on failure, with `error`.
Document transform(const Document &stylesheet, const Document &input, const Vars &stringParams = {},
                   std::string *error = nullptr);

// Escapes text for XML or HTML content and attribute values (& < > " ').
std::string escape(std::string_view text);

// Rewrites an XPath so that unprefixed element name tests match by local
// name. Exposed for tests.
std::string localNameXPath(std::string_view xpath);

} // namespace tw::xml
