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
  var api = {
    find: function (k) { return k === '' ? reg(document.body) : reg(byKey(k)[0]); },
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
      if (p === 'appendHTML') n.insertAdjacentHTML('beforeend', v);
      else if (p === 'keepRows') {
        // Each batch of rows came in a section of its own: the sections
        // after the one holding the first row to go are removed whole, then
        // one range takes that section's rest. A view of many thousands is
        // gone in a few steps, not row by row.
        var k = parseInt(v, 10), rows = n.rows;
        if (rows && rows.length > k) {
          var first = rows[k], section = first.parentNode;
          while (n.lastChild && n.lastChild !== section && !n.lastChild.contains(first)) n.removeChild(n.lastChild);
          var r = document.createRange();
          r.setStartBefore(first);
          r.setEndAfter(section.lastChild);
          r.deleteContents();
          while (n.rows.length > k) n.deleteRow(-1);
        }
      }
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
    listen: function (h) {
      var n = el(h);
      if (n) n.addEventListener('change', function () { if (window.__twBridge) window.__twBridge.changed(h); });
    }
  };
  return api;
})();
)JS";

QString toJsArgs(const QVariantList &args)
{
    QByteArray json = QJsonDocument(QJsonArray::fromVariantList(args)).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(json.mid(1, json.size() - 2));
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
    }
    return true;
}

QWebEnginePage *WebPage::createWindow(WebWindowType)
{
    return newWindowPage ? newWindowPage() : nullptr;
}

QVariant WebPage::call(const char *op, const QVariantList &args)
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
    QString js = QStringLiteral("window.__tw ? __tw.%1(%2) : null").arg(QLatin1String(op), toJsArgs(args));
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
    if (live(handle)) call("set", {handle, q(path), q(value)});
}

void WebPage::setPropertyLater(int handle, std::string_view path, std::string_view value, std::function<void()> done)
{
    if (!live(handle)) {
        if (done) done();
        return;
    }
    QString js = QStringLiteral("window.__tw ? __tw.set(%1) : null").arg(toJsArgs({handle, q(path), q(value)}));
    runJavaScript(js, QWebEngineScript::ApplicationWorld, [done = std::move(done)](const QVariant &) {
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

void WebPage::onChange(int handle, std::function<void()> handler)
{
    if (!live(handle)) return;
    bool first = m_changeHandlers.count(handle) == 0;
    m_changeHandlers[handle] = std::move(handler);
    if (first) call("listen", {handle});
}

} // namespace tw::web
