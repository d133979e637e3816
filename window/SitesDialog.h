#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "AccessGate.h"
#include "AccessSettings.h"

// The sites dialog ("Сервис" → "Сайты…"), whatever toolkit draws it: every site the bridge knows,
// with its state, its last request and its count of requests; allow, refuse, forget, and a site
// added by typing it. Each change applies from the site's next request and is written to
// [Origins] at once.

// One row of the table, as shown.
struct TSiteRow {
    std::string Origin;
    std::string State;
    std::string LastRequest;
    std::string Requests;

    bool operator==(const TSiteRow&) const = default;
};

// The dialog as its behaviour sees it; every call on the GUI thread, texts in UTF-8.
class TSitesView {
public:
    virtual ~TSitesView() = default;
    // The table, in this order. The row the operator chose stays chosen while its origin is there.
    virtual void ShowSites(const std::vector<TSiteRow>& rows) = 0;
    // The line below the table: what the last action did, or (error) why it did not or not all.
    virtual void ShowSitesMessage(const std::string& text, bool error) = 0;
    // Empties the field where a new site is typed, once the site is in the table.
    virtual void ClearTypedOrigin() = 0;
};

// What the dialog reads and changes: the window's server and settings file.
class TSitesKeeper {
public:
    virtual ~TSitesKeeper() = default;
    virtual std::vector<TKnownOrigin> KnownOrigins() = 0;
    virtual TOriginMode OriginMode() = 0;
    // Allowed, refused, or (none) forgotten: from the origin's next request on, and written to
    // [Origins] at once. False, with the reason, when that could not be done or not all of it.
    virtual bool ChangeOrigin(const std::string& origin, std::optional<bool> allowed,
                              std::string& problem) = 0;
};

class TSitesDialog {
public:
    explicit TSitesDialog(TSitesKeeper& keeper) : Keeper(keeper) {}

    // The view that draws the dialog from now on (it gets the table and the note on the mode at
    // once); nullptr once it is gone.
    void Attach(TSitesView* view);
    // The operator's actions; an origin is one of the table's rows.
    void Allow(const std::string& origin) { Change(origin, true); }
    void Refuse(const std::string& origin) { Change(origin, false); }
    void Forget(const std::string& origin) { Change(origin, std::nullopt); }
    // Allows the site typed, once it reads as an origin (TypedOrigin).
    void Add(const std::string& typed);
    // The table again, with the requests that came meanwhile.
    void Refresh();

    const std::vector<TSiteRow>& Rows() const { return Rows_; }

    // The text of a last request that came this many milliseconds ago; tests replace it.
    std::function<std::string(uint64_t agoMs)> TimeText = LocalTimeText;
    static std::string LocalTimeText(uint64_t agoMs);

private:
    void Change(const std::string& origin, std::optional<bool> allowed);
    void Show(const std::string& text, bool error);

    TSitesKeeper& Keeper;
    TSitesView* View = nullptr;
    std::vector<TSiteRow> Rows_;
};

// What a typed site is as an origin, as browsers send it: "https://" or "http://", the host in
// lower case and a port unless it is the scheme's own (443, 80); a "/" at the end, as address bars
// show one, is dropped. Empty, with the reason for the operator in problem, when it is no origin
// ("null" never is one: any site's sandboxed frame sends it).
std::string TypedOrigin(std::string_view typed, std::string& problem);

// The state column: what the origin's next request gets.
std::string SiteStateText(TOriginMode mode, const TKnownOrigin& origin);
