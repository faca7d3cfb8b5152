#pragma once
// TViewerCommands: the main window's commands that show the selected message in the viewer
// TMail: its text ("ﾒｰﾙ内容", also a double-click) or its header ("ﾍｯﾀﾞｰ情報").
//
// Each command replaces the open viewer by a new one showing "受信中" and fetches through the
// session; the result goes to the viewer that asked, and is dropped when that viewer has been
// closed or replaced meanwhile. Without a connection the viewer says so; while another
// command runs nothing is fetched and the viewer stays at "受信中". A failing text fetch is
// not reported; a failing header fetch raises to the handler boundary. The files a text
// fetch wrote (exactly those) go to its viewer, which removes them and their folder when it
// closes (at once when the viewer is gone).

#include <optional>

class TMail;
class TMain;
struct TFetchedText;

class TViewerCommands {
public:
    explicit TViewerCommands(TMain& window) : W(window) {}

    void ViewMessageText();
    void ViewMessageHeader();

private:
    // A new viewer for the selected row, and the row's message number to fetch; none when no
    // row is selected (no viewer then) or there is no connection (the viewer says so).
    std::optional<int> OpenViewer();
    void TakePartFiles(TMail* viewer, const TFetchedText& fetched) const;

    TMain& W;
};
