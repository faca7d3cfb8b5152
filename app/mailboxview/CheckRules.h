#pragma once
// The rules that check rows of the message list ("条件で選択"): every shown row, the shown
// rows larger than a size or older than a day (asked in a small dialog over `owner`), and
// the inversion of the shown rows' checks. Rows the filter hides keep their checks.

class QWidget;
class TMessageView;

namespace CheckRules {
void CheckShownRows(TMessageView& list);
void CheckLargerRows(QWidget* owner, TMessageView& list);
void CheckOlderRows(QWidget* owner, TMessageView& list);
void InvertChecks(TMessageView& list);
}
