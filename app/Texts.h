#pragma once
// The texts the windows show, as Shift-JIS bytes: captions, column titles, hints, status
// texts and the questions and warnings of the message boxes. The windows and their tests
// take them from here, so a text is written once.

namespace Texts {
// The main window.
inline constexpr const char* MainCaption = "Purgel  Ver1.00";
inline constexpr const char* ConnectCaption = "\x90\xda\x91\xb1" /* sjis: 接続 */;
inline constexpr const char* ListCaption = "\x88\xea\x97\x97\x8e\xe6\x93\xbe" /* sjis: 一覧取得 */;
inline constexpr const char* StopCaption = "\x93\xc7\x8d\x9e\x92\x86\x8e~" /* sjis: 読込中止 */;
inline constexpr const char* CheckAllCaption = "\x91S\x91I\x91\xf0" /* sjis: 全選択 */;
inline constexpr const char* UncheckAllCaption = "\x91I\x91\xf0\x89\xf0\x8f\x9c" /* sjis: 選択解除 */;
inline constexpr const char* DeleteCaption = "\x8d\xed\x8f\x9c" /* sjis: 削除 */;
inline constexpr const char* NameColumn = "\x96\xbc\x91O" /* sjis: 名前 */;
inline constexpr const char* AccountColumn = "\xb1\xb6\xb3\xdd\xc4" /* sjis: ｱｶｳﾝﾄ */;
inline constexpr const char* SubjectColumn = "\xc0\xb2\xc4\xd9" /* sjis: ﾀｲﾄﾙ */;
inline constexpr const char* SenderColumn = "\x91\x97\x90M\x8e\xd2" /* sjis: 送信者 */;
inline constexpr const char* SizeColumn = "\xbb\xb2\xbd\xde" /* sjis: ｻｲｽﾞ */;
inline constexpr const char* NewItem = "\x90V\x8bK" /* sjis: 新規 */;
inline constexpr const char* EditItem = "\x95\xd2\x8fW" /* sjis: 編集 */;
inline constexpr const char* CopyItem = "\xba\xcb\xdf\xb0" /* sjis: ｺﾋﾟｰ */;
inline constexpr const char* DeleteItem = "\x8d\xed\x8f\x9c" /* sjis: 削除 */;
inline constexpr const char* MessageTextItem = "\xd2\xb0\xd9\x93\xe0\x97" "e" /* sjis: ﾒｰﾙ内容 */;
inline constexpr const char* HeaderItem = "\xcd\xaf\xc0\xde\xb0\x8f\xee\x95\xf1" /* sjis: ﾍｯﾀﾞｰ情報 */;

// Status panel 0 of the main window, and the sender column of a deleted message.
inline constexpr const char* Connecting = "\x90\xda\x91\xb1\x92\x86" /* sjis: 接続中 */;
inline constexpr const char* Connected = "\x90\xda\x91\xb1" /* sjis: 接続 */;
inline constexpr const char* Listing = "\xd2\xb0\xd9\xd8\xbd\xc4\x8e\xf3\x90M\x92\x86" /* sjis: ﾒｰﾙﾘｽﾄ受信中 */;
inline constexpr const char* Online = "\xb5\xdd\xd7\xb2\xdd" /* sjis: ｵﾝﾗｲﾝ */;
inline constexpr const char* Deleted = "Deleted";
// Put before the name of a copied account.
inline constexpr const char* CopyPrefix = "\xba\xcb\xdf\xb0 \x81` " /* sjis: ｺﾋﾟｰ ～  */;

// The viewer's status while its message is being fetched.
inline constexpr const char* Receiving = "\x8e\xf3\x90M\x92\x86" /* sjis: 受信中 */;

// Message boxes.
inline constexpr const char* Confirm = "\x8am\x94" "F" /* sjis: 確認 */;
// Follows the account's name on a line of its own.
inline constexpr const char* AskDeleteAccount =
    "\x82\xf0\x8d\xed\x8f\x9c\x82\xb5\x82\xdc\x82\xb7\x82\xa9\x81H" /* sjis: を削除しますか？ */;
inline constexpr const char* AskDeleteMessages =
    "\x8d\xed\x8f\x9c\x82\xb5\x82\xc4\x82\xe0\x82\xa2\x82\xa2\x82\xc5\x82\xb7\x82\xa9\x81H" /* sjis: 削除してもいいですか？ */;
inline constexpr const char* SaveFailed =
    "\xb1\xb6\xb3\xdd\xc4\x82\xcc\x95\xdb\x91\xb6\x82\xc9\x8e\xb8\x94s\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81" "B" /* sjis: ｱｶｳﾝﾄの保存に失敗しました。 */;
// The component could not connect (its own event) / Connect raised.
inline constexpr const char* CannotConnect =
    "\x90\xda\x91\xb1\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1\x81I" /* sjis: 接続できません！ */;
inline constexpr const char* CouldNotConnect =
    "\x90\xda\x91\xb1\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1\x82\xc5\x82\xb5\x82\xbd\x81" "B" /* sjis: 接続できませんでした。 */;

// The account dialog: its caption, the labels and hints of its fields, and the warning for
// the first field found wrong, in field order.
inline constexpr const char* AccountCaption = "\xb1\xb6\xb3\xdd\xc4\x90\xdd\x92\xe8" /* sjis: ｱｶｳﾝﾄ設定 */;
inline constexpr const char* NameLabel = "\x96\xbc\x91O:" /* sjis: 名前: */;
inline constexpr const char* NameHint = "\xcc\xdf\xdb\xca\xde\x96\xbc\x82\xc6\x82\xa9\x93K\x93\x96\x82\xc9" /* sjis: ﾌﾟﾛﾊﾞ名とか適当に */;
inline constexpr const char* UserLabel = "ID(\xb1\xb6\xb3\xdd\xc4):" /* sjis: ID(ｱｶｳﾝﾄ): */;
inline constexpr const char* UserHint = "\xb1\xb6\xb3\xdd\xc4" /* sjis: ｱｶｳﾝﾄ */;
inline constexpr const char* PasswordLabel = "\xca\xdf\xbd\xdc\xb0\xc4\xde:" /* sjis: ﾊﾟｽﾜｰﾄﾞ: */;
inline constexpr const char* ServerLabel = "\x8e\xf3\x90M\xbb\xb0\xca\xde\xb0:" /* sjis: 受信ｻｰﾊﾞｰ: */;
inline constexpr const char* ServerHint = "POP3";
inline constexpr const char* TimeOutLabel = "\xc0\xb2\xd1\xb1\xb3\xc4:" /* sjis: ﾀｲﾑｱｳﾄ: */;
inline constexpr const char* TimeOutHint =
    "\x8e\xf3\x90M\xc0\xb2\xd1\xb1\xb3\xc4(\xc3\xde\xcc\xab\xd9\xc4\x82\xcd" "30\x95" "b)" /* sjis: 受信ﾀｲﾑｱｳﾄ(ﾃﾞﾌｫﾙﾄは30秒) */;
inline constexpr const char* SecondsLabel = "\x95" "b" /* sjis: 秒 */;
inline constexpr const char* PortLabel = "\xce\xdf\xb0\xc4:" /* sjis: ﾎﾟｰﾄ: */;
inline constexpr const char* PortHint =
    "\xce\xdf\xb0\xc4\x94\xd4\x8d\x86(SSL/TLS\x82\xcd" "995\x81" "ASTARTTLS\x81" "E\x82\xc8\x82\xb5\x82\xcd" "110)" /* sjis: ﾎﾟｰﾄ番号(SSL/TLSは995、STARTTLS・なしは110) */;
// Where the password lives, in the order of the choice's items.
inline constexpr const char* PlaceLabel = "\x95\xdb\x91\xb6\x90\xe6:" /* sjis: 保存先: */;
inline constexpr const char* KeyringPlace = "\x83L\x81[\x83\x8a\x83\x93\x83O" /* sjis: キーリング */;
inline constexpr const char* FilePlace = "\x83t\x83@\x83" "C\x83\x8b\x81i\x95\xbd\x95\xb6\x81j" /* sjis: ファイル（平文） */;
inline constexpr const char* NoKeyringHint =
    "\x83L\x81[\x83\x8a\x83\x93\x83O\x82\xaa\x89\x9e\x93\x9a\x82\xb5\x82\xdc\x82\xb9\x82\xf1\x81" "B\x83L\x81[\x83\x8a\x83\x93\x83O\x82\xf0\x91I\x82\xd4\x82\xc6\x90\xda\x91\xb1\x82\xcc\x82\xbd\x82\xd1\x82\xc9\xca\xdf\xbd\xdc\xb0\xc4\xde\x82\xf0\x90q\x82\xcb\x82\xdc\x82\xb7\x81" "B" /* sjis: キーリングが応答しません。キーリングを選ぶと接続のたびにﾊﾟｽﾜｰﾄﾞを尋ねます。 */;
inline constexpr const char* PlaceMissing =
    "\xca\xdf\xbd\xdc\xb0\xc4\xde\x82\xcc\x95\xdb\x91\xb6\x90\xe6\x82\xf0\x91I\x82\xf1\x82\xc5\x89\xba\x82\xb3\x82\xa2\x81" "B" /* sjis: ﾊﾟｽﾜｰﾄﾞの保存先を選んで下さい。 */;
// The security of the connection, in the order of the choice's items (TAccountSecurity).
inline constexpr const char* SecurityLabel = "\x88\xc3\x8d\x86\x89\xbb:" /* sjis: 暗号化: */;
inline constexpr const char* SecurityNames[] = {"SSL/TLS", "STARTTLS", "\x82\xc8\x82\xb5" /* sjis: なし */};

// The password prompt at connect, and where it may keep the password.
inline constexpr const char* PasswordCaption = "\xca\xdf\xbd\xdc\xb0\xc4\xde\x93\xfc\x97\xcd" /* sjis: ﾊﾟｽﾜｰﾄﾞ入力 */;
// Follows the account's name.
inline constexpr const char* AskPasswordOf =
    "\x82\xcc\xca\xdf\xbd\xdc\xb0\xc4\xde\x82\xf0\x93\xfc\x97\xcd\x82\xb5\x82\xc4\x89\xba\x82\xb3\x82\xa2\x81" "B" /* sjis: のﾊﾟｽﾜｰﾄﾞを入力して下さい。 */;
inline constexpr const char* RememberLabel = "\x8bL\x89\xaf:" /* sjis: 記憶: */;
inline constexpr const char* DontRemember = "\x8bL\x89\xaf\x82\xb5\x82\xc8\x82\xa2" /* sjis: 記憶しない */;

// The tooltip of an account's row: where its password is.
inline constexpr const char* PasswordInKeyringTip =
    "\xca\xdf\xbd\xdc\xb0\xc4\xde: \x83L\x81[\x83\x8a\x83\x93\x83O" /* sjis: ﾊﾟｽﾜｰﾄﾞ: キーリング */;
inline constexpr const char* PasswordInFileTip =
    "\xca\xdf\xbd\xdc\xb0\xc4\xde: \x83t\x83@\x83" "C\x83\x8b\x81i\x95\xbd\x95\xb6\x81j" /* sjis: ﾊﾟｽﾜｰﾄﾞ: ファイル（平文） */;
// The keyring could not take a password / update an entry / take all plain-text passwords.
inline constexpr const char* KeyringStoreFailed =
    "\xca\xdf\xbd\xdc\xb0\xc4\xde\x82\xf0\x83L\x81[\x83\x8a\x83\x93\x83O\x82\xc9\x95\xdb\x91\xb6\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1\x82\xc5\x82\xb5\x82\xbd\x81" "B" /* sjis: ﾊﾟｽﾜｰﾄﾞをキーリングに保存できませんでした。 */;
inline constexpr const char* AskStoreInFile =
    "\xca\xdf\xbd\xdc\xb0\xc4\xde\x82\xf0\x83t\x83@\x83" "C\x83\x8b\x82\xc9\x95\xbd\x95\xb6\x82\xc5\x95\xdb\x91\xb6\x82\xb5\x82\xdc\x82\xb7\x82\xa9\x81H" /* sjis: ﾊﾟｽﾜｰﾄﾞをファイルに平文で保存しますか？ */;
inline constexpr const char* KeyringUpdateFailed =
    "\x83L\x81[\x83\x8a\x83\x93\x83O\x82\xcc\x8d\x80\x96\xda\x82\xf0\x8dX\x90V\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1\x82\xc5\x82\xb5\x82\xbd\x81" "B" /* sjis: キーリングの項目を更新できませんでした。 */;
inline constexpr const char* AskMoveToKeyring =
    "\xb1\xb6\xb3\xdd\xc4\x88\xea\x97\x97\x82\xc9\x95\xbd\x95\xb6\x82\xcc\xca\xdf\xbd\xdc\xb0\xc4\xde\x82\xaa\x82\xa0\x82\xe8\x82\xdc\x82\xb7\x81" "B\x83L\x81[\x83\x8a\x83\x93\x83O\x82\xc9\x88\xda\x82\xb5\x82\xdc\x82\xb7\x82\xa9\x81H" /* sjis: ｱｶｳﾝﾄ一覧に平文のﾊﾟｽﾜｰﾄﾞがあります。キーリングに移しますか？ */;
inline constexpr const char* MoveIncomplete =
    "\x83L\x81[\x83\x8a\x83\x93\x83O\x82\xc9\x88\xda\x82\xb9\x82\xc8\x82\xa9\x82\xc1\x82\xbd\xca\xdf\xbd\xdc\xb0\xc4\xde\x82\xaa\x82\xa0\x82\xe8\x82\xdc\x82\xb7\x81" "B\x82\xbb\x82\xea\x82\xe7\x82\xcd\x83t\x83@\x83" "C\x83\x8b\x82\xc9\x8e" "c\x82\xc1\x82\xc4\x82\xa2\x82\xdc\x82\xb7\x81" "B" /* sjis: キーリングに移せなかったﾊﾟｽﾜｰﾄﾞがあります。それらはファイルに残っています。 */;
inline constexpr const char* FieldMissing[] = {
    "\x96\xbc\x91O\x82\xf0\x93\xfc\x97\xcd\x82\xb5\x82\xc4\x89\xba\x82\xb3\x82\xa2\x81" "B" /* sjis: 名前を入力して下さい。 */,
    "ID(\xb1\xb6\xb3\xdd\xc4)\x82\xf0\x93\xfc\x97\xcd\x82\xb5\x82\xc4\x89\xba\x82\xb3\x82\xa2\x81" "B" /* sjis: ID(ｱｶｳﾝﾄ)を入力して下さい。 */,
    "\xca\xdf\xbd\xdc\xb0\xc4\xde\x82\xf0\x93\xfc\x97\xcd\x82\xb5\x82\xc4\x89\xba\x82\xb3\x82\xa2\x81" "B" /* sjis: ﾊﾟｽﾜｰﾄﾞを入力して下さい。 */,
    "\x8e\xf3\x90M\xbb\xb0\xca\xde\xb0\x82\xf0\x93\xfc\x97\xcd\x82\xb5\x82\xc4\x89\xba\x82\xb3\x82\xa2\x81" "B" /* sjis: 受信ｻｰﾊﾞｰを入力して下さい。 */,
    "\xc0\xb2\xd1\xb1\xb3\xc4\x82\xcc\x92l\x82\xaa\x90\xb3\x82\xb5\x82\xad\x82\xa0\x82\xe8\x82\xdc\x82\xb9\x82\xf1\x81" "B" /* sjis: ﾀｲﾑｱｳﾄの値が正しくありません。 */,
    "\xce\xdf\xb0\xc4\x82\xf0\x93\xfc\x97\xcd\x82\xb5\x82\xc4\x89\xba\x82\xb3\x82\xa2\x81" "B" /* sjis: ﾎﾟｰﾄを入力して下さい。 */,
};
}
