#include "platform/web/webpage.h"

#include "platform/defer.h"
#include "platform/log.h"
#include "platform/web/scheme.h"

#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QTimer>
#include <QWebChannel>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

#include <cstdio>
#include <memory>

namespace tw::web {
namespace {

// Elements are registered in a per-document table; the program holds numbers.
const char *kHelper = R"JS(
window.__tw = (function () {
  var nodes = [null], ids = new Map();
  function reg(n) {
    if (!n) return 0;
    var id = ids.get(n);
    if (id) return id;
    nodes.push(n); ids.set(n, nodes.length - 1);
    return nodes.length - 1;
  }
  function el(h) { return nodes[h] || null; }
  function all(list) { return Array.prototype.map.call(list, reg); }
  function byKey(k) {
    var q = '[id="' + CSS.escape(k) + '"],[name="' + CSS.escape(k) + '"]';
    return document.querySelectorAll(q);
  }
  // A table's rows are let go of in the page's idle time. Taking thousands
  // of laid-out rows out of the document at once holds the page for a
  // second or more, so the table stands in a wrapper of its own: the wrapper
  // with the rows to go is set aside unrendered (its layout kept as it is)
  // and a fresh table with the kept rows takes the old one's place and
  // handle; the rows set aside then go a few at a time while nothing else
  // waits.
  var wrappers = new WeakSet(), retired = [], retiredRows = 0, sweeping = false, lastCall = 0;
  var kRetiredRows = 40000;
  var nearObserver = null, nearTargets = new Map();
  function unwatch(h) {
    nearTargets.forEach(function (owner, target) {
      if (owner !== h) return;
      nearTargets.delete(target);
      nearObserver.unobserve(target);
    });
  }
  function wrap(n) {
    var w = document.createElement('div');
    n.parentNode.insertBefore(w, n);
    w.appendChild(n);
    wrappers.add(w);
  }
  // Only once the program has left the page alone for a moment (a drawing
  // is many calls in a row), and in slices short enough that a call or the
  // seller's input arriving meanwhile hardly waits.
  var kQuietMs = 300, kSliceMs = 4;
  function sweepLater() {
    setTimeout(function () { requestIdleCallback(sweep); }, kQuietMs);
  }
  function sweepFor(ms) {
    var start = performance.now();
    while (retired.length && performance.now() - start < ms) {
      var w = retired[0], t = w.lastChild, s = t && t.lastChild;
      if (!t) { w.remove(); retired.shift(); retiredRows -= w.rowCount; }
      else if (!s) w.removeChild(t);
      else if (s.nodeType !== 1 || !s.lastChild) t.removeChild(s);
      else s.removeChild(s.lastChild);
    }
  }
  function sweep(deadline) {
    if (performance.now() - lastCall < kQuietMs) { sweepLater(); return; }
    sweepFor(Math.min(kSliceMs, deadline.timeRemaining() - 1));
    sweeping = retired.length > 0;
    if (sweeping) requestIdleCallback(sweep);
  }
  function keepRows(h, n, k) {
    var rows = n.rows;
    if (!rows || rows.length <= k) {
      if (rows && !wrappers.has(n.parentNode)) wrap(n);
      return;
    }
    if (!wrappers.has(n.parentNode)) {
      // Not wrapped yet: the rows go now, the sections after the one
      // holding the first row to go whole, then that section's rest.
      var first = rows[k], section = first.parentNode;
      while (n.lastChild && n.lastChild !== section && !n.lastChild.contains(first)) n.removeChild(n.lastChild);
      var r = document.createRange();
      r.setStartBefore(first);
      r.setEndAfter(section.lastChild);
      r.deleteContents();
      while (n.rows.length > k) n.deleteRow(-1);
      wrap(n);
      return;
    }
    var old = n.parentNode, fresh = n.cloneNode(false), into = null, from = null;
    Array.prototype.slice.call(rows, 0, k).forEach(function (r) {
      if (r.parentNode !== from) {
        from = r.parentNode;
        into = from === n ? fresh : fresh.appendChild(from.cloneNode(false));
      }
      into.appendChild(r);
    });
    n.removeAttribute('id');
    n.removeAttribute('name');
    var w = old.cloneNode(false);
    wrappers.add(w);
    w.appendChild(fresh);
    old.parentNode.insertBefore(w, old);
    old.style.contentVisibility = 'hidden';

    if (nearObserver) unwatch(h);
    nodes[h] = fresh; ids.set(fresh, h); ids.delete(n);
    // Clicks in quick succession must not pile up table after table: past
    // a bound, the oldest set aside go at once.
    var count = rows.length;
    while (retired.length && retiredRows + count > kRetiredRows) {
      var gone = retired.shift();
      retiredRows -= gone.rowCount;
      gone.remove();
    }
    old.rowCount = count;
    retiredRows += count;
    retired.push(old);
    if (!sweeping) { sweeping = true; sweepLater(); }
  }
  var api = {
    // By id first: a lookup by attribute walks the whole document, and on
    // a page of many thousand rows each such walk takes tens of milliseconds.
    find: function (k) {
      if (k === '') return reg(document.body);
      return reg(document.getElementById(k) || document.querySelector('[name="' + CSS.escape(k) + '"]'));
    },
    findAll: function (k) { return all(byKey(k)); },
    query: function (h, sel) {
      var scope = h ? el(h) : document;
      if (!scope) return [];
      try { return all(scope.querySelectorAll(sel)); } catch (e) { return []; }
    },
    get: function (h, p) {
      var n = el(h);
      if (!n) return '';
      if (p.indexOf('style.') === 0) return String(n.style[p.substr(6)] || '');
      if (n === document.body) {
        var v = document.scrollingElement || document.documentElement;
        if (p === 'clientWidth') return String(v.clientWidth);
        if (p === 'clientHeight') return String(v.clientHeight);
        if (p === 'scrollTop') return String(v.scrollTop);
      }
      var x = n[p];
      if (typeof x === 'boolean') return x ? 'true' : 'false';
      return x === undefined || x === null ? '' : String(x);
    },
    set: function (h, p, v) {
      var n = el(h);
      if (!n) return;
      if (p === 'appendHTML') {
        n.insertAdjacentHTML('beforeend', v);
        // A drawing's rows come in batch after batch with no pause between:
        // each batch lets go of some of the rows set aside as well.
        sweepFor(kSliceMs);
      }
      else if (p === 'keepRows') keepRows(h, n, parseInt(v, 10));
      else if (p.indexOf('style.') === 0) n.style[p.substr(6)] = v;
      else if (p === 'checked' || p === 'disabled') n[p] = (v === 'true');
      else if (p === 'selectedIndex') n.selectedIndex = parseInt(v, 10);
      else n[p] = v;
    },
    attr: function (h, a) { var n = el(h); var v = n ? n.getAttribute(a) : null; return v === null ? '' : v; },
    setAttr: function (h, a, v) { var n = el(h); if (n) n.setAttribute(a, v); },
    collection: function (h, kind) { var n = el(h); return n && n[kind] ? all(n[kind]) : []; },
    insert: function (h, kind, i) {
      var n = el(h);
      if (!n) return 0;
      try { return reg(kind === 'row' ? n.insertRow(i) : n.insertCell(i)); } catch (e) { return 0; }
    },
    deleteRow: function (h, i) { var n = el(h); try { if (n) n.deleteRow(i); } catch (e) {} },
    addOption: function (h, text, value, sel) {
      var n = el(h);
      if (!n || !n.add) return 0;
      var o = new Option(text, value, sel, sel);
      n.add(o);
      return reg(o);
    },
    values: function (h, sel, paths) {
      var scope = h ? el(h) : document;
      if (!scope) return [];
      var list;
      try { list = scope.querySelectorAll(sel); } catch (e) { return []; }
      return Array.prototype.map.call(list, function (n) {
        return paths.map(function (p) {
          if (p.charAt(0) === '@') { var a = n.getAttribute(p.substr(1)); return a === null ? '' : a; }
          if (p.charAt(0) === '^') {
            var at = p.indexOf('@'), up = n.closest(p.substring(1, at));
            var b = up ? up.getAttribute(p.substr(at + 1)) : null;
            return b === null ? '' : b;
          }
          return api.get(reg(n), p);
        });
      });
    },
    setEach: function (h, sel, p, vals) {
      var scope = h ? el(h) : document;
      if (!scope) return;
      var list;
      try { list = scope.querySelectorAll(sel); } catch (e) { return; }
      Array.prototype.forEach.call(list, function (n, i) {
        api.set(reg(n), p, vals.length === 1 ? vals[0] : (i < vals.length ? vals[i] : ''));
      });
    },
    // One word to the program when the element's end comes within two
    // window heights of the view; the observer reports at once where it
    // already is.
    watchEnd: function (h) {
      var n = el(h);
      if (!n) return;
      if (!nearObserver)
        nearObserver = new IntersectionObserver(function (entries) {
          entries.forEach(function (e) {
            var owner = nearTargets.get(e.target);
            if (owner === undefined || !e.isIntersecting) return;
            unwatch(owner);
            if (window.__twBridge) window.__twBridge.nearEnd(owner);
          });
        }, {rootMargin: '0px 0px 200% 0px'});
      unwatch(h);
      var end = n.lastElementChild;
      if (end && end.tagName !== 'TR' && end.lastElementChild) end = end.lastElementChild;
      end = end || n;
      nearTargets.set(end, h);
      nearObserver.observe(end);
    },
    listen: function (h) {
      var n = el(h);
      if (n) n.addEventListener('change', function () { if (window.__twBridge) window.__twBridge.changed(h); });
    }
  };
  Object.keys(api).forEach(function (name) {
    var f = api[name];
    api[name] = function () { lastCall = performance.now(); return f.apply(null, arguments); };
  });
  return api;
})();
)JS";

QString toJsArgs(const QVariantList &args)
{
    QByteArray json = QJsonDocument(QJsonArray::fromVariantList(args)).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(json.mid(1, json.size() - 2));
}

// A property write as script, built from the UTF-8 text in one pass: a
// batch of rows runs to tens of megabytes, and every copy on the way through
// Qt's JSON costs as much again.
QString setScript(int handle, std::string_view path, std::string_view value)
{
    std::string js = "window.__tw ? __tw.set(" + std::to_string(handle);
    js.reserve(js.size() + path.size() + value.size() + value.size() / 16 + 16);
    for (std::string_view text : {path, value}) {
        js += ",\"";
        for (size_t i = 0; i < text.size(); ++i) {
            const unsigned char c = static_cast<unsigned char>(text[i]);
            if (c == '"' || c == '\\') {
                js += '\\';
                js += char(c);
            } else if (c < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                js += escaped;
            } else if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
                       (static_cast<unsigned char>(text[i + 2]) & 0xFE) == 0xA8) {
                // U+2028 and U+2029 end a line in older script grammars.
                js += text[i + 2] == char(0xA8) ? "\\u2028" : "\\u2029";
                i += 2;
            } else {
                js += char(c);
            }
        }
        js += '"';
    }
    js += ") : null";
    return QString::fromUtf8(js.data(), qsizetype(js.size()));
}

QString q(std::string_view s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

} // namespace

WebPage::WebPage(QWebEngineProfile *profile, QObject *parent)
    : QWebEnginePage(profile, parent), m_channel(new QWebChannel(this))
{
    installPagesScheme(profile);
    auto *bridge = new PageBridge(this);
    m_channel->registerObject("bridge", bridge);
    setWebChannel(m_channel, QWebEngineScript::ApplicationWorld);
    connect(bridge, &PageBridge::endNear, this, [this](int handle) {
        runAfterCurrentEvent(this, [this, handle, document = m_document] {
            auto it = m_endHandlers.find(handle);
            if (document != m_document || it == m_endHandlers.end()) return;
            std::function<void()> nearEnd = std::move(it->second);
            m_endHandlers.erase(it);
            if (nearEnd) nearEnd();
        });
    });
    connect(bridge, &PageBridge::elementChanged, this, [this](int handle) {
        // Run outside the channel's delivery, where the handler may wait on the page.
        runAfterCurrentEvent(this, [this, handle, document = m_document] {
            auto run = [this, handle, document] {
                if (document != m_document) return; // its form has gone
                auto it = m_changeHandlers.find(handle);
                if (it == m_changeHandlers.end() || !live(handle)) return;
                // A copy: the handler may replace the document, and the handlers with it.
                std::function<void()> handler = it->second;
                handler();
            };
            if (runChangeHandler)
                runChangeHandler(run);
            else
                run();
        });
    });

    QFile channelJs(":/qtwebchannel/qwebchannel.js");
    channelJs.open(QIODevice::ReadOnly);
    QWebEngineScript script;
    script.setName("tidewell");
    script.setWorldId(QWebEngineScript::ApplicationWorld);
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setRunsOnSubFrames(false);
    script.setSourceCode(QString::fromUtf8(channelJs.readAll()) + QString::fromUtf8(kHelper) +
                         "new QWebChannel(qt.webChannelTransport, function (c) { window.__twBridge = "
                         "c.objects.bridge; });");
    scripts().insert(script);

    connect(this, &QWebEnginePage::loadFinished, this, [this](bool ok) {
        m_refusing = false;
        if (!ok) {
            m_loading = false;
            if (!m_requested.isEmpty() && url() != m_requested.toString().toStdString() && m_retries < 2) {
                // Our load was swallowed by the end of a refused navigation: ask again.
                ++m_retries;
                load(m_requested);
                return;
            }
        }
        m_requested.clear();
        m_retries = 0;
        if (!ok) return;
        // The fill waits on the page; run from inside the browser's own
        // signal, its answers could be held back until the call time-out.
        // The document counts as loading until its fill starts.
        runAfterCurrentEvent(this, [this, document = m_document] {
            if (document != m_document) return; // replaced meanwhile: its own load fills it
            m_loading = false;
            if (documentComplete) documentComplete(url());
        });
    });
}

void WebPage::navigate(const QUrl &target)
{
    m_requested = target;
    m_retries = 0;
    load(target);
}

bool WebPage::acceptNavigationRequest(const QUrl &target, NavigationType type, bool isMainFrame)
{
    if (!isMainFrame) return true;
    // A redirect comes from whatever server answered, not from the document
    // still shown: it must not pass for that document.
    std::string from = type == NavigationTypeTyped      ? std::string()
                       : type == NavigationTypeRedirect ? std::string("redirect:") + target.toString().toStdString()
                                                        : url();
    // The address as it travels, percent-encoding kept: a command link's
    // "%26" must not turn into a separator.
    const std::string address = target.toString(QUrl::FullyEncoded).toStdString();
    if (beforeNavigate && beforeNavigate(address, from)) {
        // Refused: the document stays, with its overlay, handles and handlers
        // (the browser still reports a start and a failed end for it), and a
        // load we refused is not one to ask again.
        if (target == m_requested) m_requested.clear();
        m_refusing = true;
        return false;
    }
    // A jump to a mark within the document keeps it; anything else replaces
    // it, the same address loaded again included (its new document numbers
    // its elements afresh).
    const bool withinDocument = type != NavigationTypeReload && target.hasFragment() &&
                                target.matches(QWebEnginePage::url(), QUrl::RemoveFragment);
    if (!withinDocument) {
        if (documentReplaced) documentReplaced();
        ++m_document;
        m_loading = true;
        m_live.clear();
        m_changeHandlers.clear();
        m_endHandlers.clear();
    }
    return true;
}

QWebEnginePage *WebPage::createWindow(WebWindowType)
{
    return newWindowPage ? newWindowPage() : nullptr;
}

QVariant WebPage::call(const char *op, const QVariantList &args)
{
    return run(QStringLiteral("window.__tw ? __tw.%1(%2) : null").arg(QLatin1String(op), toJsArgs(args)), op);
}

QVariant WebPage::run(const QString &js, const char *op)
{
    // A refused navigation winds down on its own in a moment; a script run
    // meanwhile stalls it, and its answer with it, until the call times out.
    // Let it end first.
    if (m_refusing) {
        QEventLoop settle;
        auto done = connect(this, &QWebEnginePage::loadFinished, &settle, &QEventLoop::quit);
        QTimer::singleShot(kRefusalSettleMs, &settle, &QEventLoop::quit);
        if (m_refusing) settle.exec();
        disconnect(done);
        m_refusing = false;
    }
    struct State {
        QVariant value;
        bool done = false;
        QPointer<QEventLoop> loop;
    };
    auto state = std::make_shared<State>();
    runJavaScript(js, QWebEngineScript::ApplicationWorld, [state](const QVariant &v) {
        state->value = v;
        state->done = true;
        if (state->loop) state->loop->quit();
    });
    if (!state->done) {
        QEventLoop loop;
        state->loop = &loop;
        QTimer::singleShot(callTimeoutMs, &loop, &QEventLoop::quit);
        loop.exec();
        if (!state->done) log::write("page", std::string("no answer from the page to ") + op + " within the time-out");
    }
    return state->value;
}

int WebPage::handleOf(const QVariant &v)
{
    int h = v.toInt();
    if (h > 0) m_live.insert(h);
    return h;
}

std::vector<int> WebPage::handlesOf(const QVariant &v)
{
    std::vector<int> out;
    for (const QVariant &item : v.toList())
        if (int h = handleOf(item)) out.push_back(h);
    return out;
}

std::string WebPage::url()
{
    return QWebEnginePage::url().toString().toStdString();
}

int WebPage::find(std::string_view key)
{
    return handleOf(call("find", {q(key)}));
}
std::vector<int> WebPage::findAll(std::string_view key)
{
    return handlesOf(call("findAll", {q(key)}));
}

std::vector<int> WebPage::queryAll(int scope, std::string_view selector)
{
    if (scope && !live(scope)) return {};
    return handlesOf(call("query", {scope, q(selector)}));
}

std::string WebPage::property(int handle, std::string_view path)
{
    if (!live(handle)) return {};
    return call("get", {handle, q(path)}).toString().toStdString();
}

void WebPage::setProperty(int handle, std::string_view path, std::string_view value)
{
    if (live(handle)) run(setScript(handle, path, value), "set");
}

void WebPage::setPropertyLater(int handle, std::string_view path, std::string_view value, std::function<void()> done)
{
    if (!live(handle)) {
        if (done) done();
        return;
    }
    runJavaScript(setScript(handle, path, value), QWebEngineScript::ApplicationWorld,
                  [done = std::move(done)](const QVariant &) {
                      if (done) done();
                  });
}

std::string WebPage::attribute(int handle, std::string_view name)
{
    if (!live(handle)) return {};
    return call("attr", {handle, q(name)}).toString().toStdString();
}

void WebPage::setAttribute(int handle, std::string_view name, std::string_view value)
{
    if (live(handle)) call("setAttr", {handle, q(name), q(value)});
}

std::vector<int> WebPage::collection(int handle, std::string_view kind)
{
    if (!live(handle)) return {};
    return handlesOf(call("collection", {handle, q(kind)}));
}

int WebPage::insert(int handle, std::string_view kind, int index)
{
    if (!live(handle)) return 0;
    return handleOf(call("insert", {handle, q(kind), index}));
}

void WebPage::deleteRow(int handle, int index)
{
    if (live(handle)) call("deleteRow", {handle, index});
}

int WebPage::addOption(int handle, std::string_view text, std::string_view value, bool selected)
{
    if (!live(handle)) return 0;
    return handleOf(call("addOption", {handle, q(text), q(value), selected}));
}

std::vector<std::vector<std::string>> WebPage::values(int scope, std::string_view selector,
                                                      const std::vector<std::string> &paths)
{
    std::vector<std::vector<std::string>> out;
    if (scope && !live(scope)) return out;
    QStringList list;
    for (const std::string &p : paths)
        list << q(p);
    for (const QVariant &row : call("values", {scope, q(selector), list}).toList()) {
        std::vector<std::string> fields;
        for (const QVariant &v : row.toList())
            fields.push_back(v.toString().toStdString());
        out.push_back(std::move(fields));
    }
    return out;
}

void WebPage::setEach(int scope, std::string_view selector, std::string_view path,
                      const std::vector<std::string> &values)
{
    if (scope && !live(scope)) return;
    QStringList list;
    for (const std::string &v : values)
        list << q(v);
    call("setEach", {scope, q(selector), q(path), list});
}

void WebPage::watchEnd(int handle, std::function<void()> nearEnd)
{
    if (!live(handle)) return;
    m_endHandlers[handle] = std::move(nearEnd);
    call("watchEnd", {handle});
}

void WebPage::onChange(int handle, std::function<void()> handler)
{
    if (!live(handle)) return;
    bool first = m_changeHandlers.count(handle) == 0;
    m_changeHandlers[handle] = std::move(handler);
    if (first) call("listen", {handle});
}

} // namespace tw::web
