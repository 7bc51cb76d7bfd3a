// Every text the program shows: the log messages, the console lines and the
// banner, each written once here under the name the code uses.
//
// The texts are UTF-8; they become code page 932 on Windows only when they
// are written (base/text_encoding.h). A log message (MSG_...) is a printf
// format that begins with "%s", filled with ERROR_PREFIX or WARNING_PREFIX:
//   log_error(MSG_INVALID_NOTE_NAME, ERROR_PREFIX, name);
// A console text (TEXT_...) goes to standard output or error as it is.
// After adding a text with a character new to the program, run
// tools/gen_cp932_table.py.
#pragma once

// QERN_MESSAGE_TEXTS(X) calls X(name, text) once per text. The list makes
// both the named constants and MESSAGE_TABLE, so that no text can be named
// and yet missing from the table that the encoding checks walk.
#define QERN_MESSAGE_TEXTS(X)                                                                  \
    /* the prefixes of the log messages */                                                     \
    X(ERROR_PREFIX, "エラー:")                                                                  \
    X(WARNING_PREFIX, "警告:")                                                                  \
    /* run sequence and console */                                                             \
    X(BANNER_FORMAT,                                                                           \
      "QERN Ver%d.%d\n"                                                                        \
      "このプログラムは、「歌声合成ツール　ＵＴＡＵ」用に\n"                                     \
      "作られた歌声合成エンジンです。\n"                                                         \
      "コマンドラインオプションの仕様は、resampler Ver10.42に準じます。\n")                      \
    X(TEXT_LOG_NOT_CREATED, "エラーログ出力用ファイルの作成に失敗\n")                           \
    X(TEXT_PROCESSING_TIME, "処理時間=%dmsec\n")                                                \
    X(MSG_COMMAND_LINE_FAILED, "%sコマンドラインオプションの処理に失敗しました\n")              \
    X(MSG_CACHE_NOT_OBTAINED, "%spmkファイルの取得に失敗\n")                                    \
    X(MSG_CACHE_NOT_READ, "%sパラメータファイル読み込みに失敗しました\n")                       \
    X(MSG_SYNTHESIS_FAILED, "%s音声の合成に失敗しました\n")                                     \
    X(MSG_OUTPUT_NOT_WRITTEN, "%sファイルの書き出しに失敗しました\n")                           \
    X(MSG_OUTPUT_IS_INPUT, "%s出力ファイル%sが入力音声ファイルと同じです\n")                     \
    X(MSG_OUTPUT_IS_CACHE, "%s出力ファイル%sがpmkファイルと同じです\n")                         \
    /* command line, flags and pitch bend */                                                   \
    X(TEXT_SHARP_SIGN_READ, "ここには来てます\n")                                               \
    X(MSG_TOO_FEW_ARGUMENTS, "%s引数が足りません\n")                                            \
    X(MSG_INVALID_NOTE_NAME, "%s不正な音階名%s\n")                                              \
    X(MSG_NEGATIVE_LEFT_BLANK, "%s左ブランク値が負です。設定を確認してください\n")              \
    X(MSG_NEGATIVE_LENGTH, "%s指定された長さが負です。設定を確認してください\n")                \
    X(MSG_INVALID_BEND_LETTER, "%sピッチ文字列に不正な文字\n")                                  \
    X(MSG_BEND_MEMORY, "%sピッチ格納用メモリの確保に失敗\n")                                    \
    /* files */                                                                                \
    X(MSG_CANNOT_OPEN_FILE, "%sファイル%sを開けません\n")                                       \
    /* WAV reader */                                                                           \
    X(MSG_UNKNOWN_EXTENSION, "%s未知の拡張子です\n")                                            \
    X(MSG_RIFF_READ_FAILED, "%sRIFFヘッダの読み込みに失敗\n")                                   \
    X(MSG_RIFF_MISSING, "%sRIFFヘッダがない\n入っていたのは%sでした\n")                          \
    X(MSG_FILE_SIZE_READ_FAILED, "%sファイルサイズの読み込みに失敗\n")                          \
    X(MSG_WAVE_READ_FAILED, "%sWAVEヘッダの読み込みに失敗\n")                                   \
    X(MSG_WAVE_MISSING, "%sWAVEヘッダがない\n入っていたのは%sでした\n")                          \
    X(MSG_FMT_READ_FAILED, "%sfmtチャンクの読み込みに失敗\n")                                   \
    X(MSG_FMT_MISSING, "%sfmtチャンクがない\n入っていたのは%sでした\n")                          \
    X(MSG_FMT_SIZE_READ_FAILED, "%sfmtチャンクサイズの読み込みに失敗\n")                        \
    X(MSG_FMT_SIZE_UNUSUAL,                                                                    \
      "%sfmtチャンクサイズが16ではなく%dとなっています\nデータが正しく読み込めない可能性があります\n") \
    X(MSG_FORMAT_TAG_READ_FAILED, "%sフォーマットIDの読み込みに失敗\n")                         \
    X(MSG_NOT_LINEAR_PCM, "%sリニアPCMのフォーマットIDではありません\n")                        \
    X(MSG_CHANNELS_READ_FAILED, "%sチャンネル数の読み込みに失敗\n")                             \
    X(MSG_UNSUPPORTED_CHANNELS, "%s対応していないチャンネル数 %d\n")                            \
    X(MSG_RATE_READ_FAILED, "%sサンプリングレートの読み込みに失敗\n")                           \
    X(MSG_INVALID_RATE, "%sサンプリングレートの値が不正 %d\n")                                  \
    X(MSG_BYTE_RATE_SKIP_FAILED, "%sデータ速度とブロックサイズのスキップに失敗\n")              \
    X(MSG_BITS_READ_FAILED, "%s1サンプルあたりのビット数の読み込みに失敗\n")                    \
    X(MSG_UNSUPPORTED_BITS, "%s対応していないBitsPerSample値 %d\n")                            \
    X(MSG_DATA_READ_FAILED, "%sdataチャンクの読み込みに失敗\n")                                 \
    X(MSG_DATA_NOT_FOUND, "%sdataチャンクが見つかりませんでした\n")                             \
    X(MSG_DATA_SIZE_READ_FAILED, "%sデータサイズの読み込みに失敗\n")                            \
    X(MSG_DATA_SIZE_TOO_LARGE, "%sデータサイズが大きすぎる\n")                                  \
    X(MSG_SAMPLE_MEMORY, "%sデータを読み込むメモリの確保に失敗\n")                              \
    /* WAV writer */                                                                           \
    X(MSG_NO_DATA_TO_WRITE, "%s書き込むデータが存在しません\n")                                 \
    X(MSG_RIFF_WRITE_FAILED, "%s\"RIFF\"の書き込みに失敗\n")                                    \
    X(MSG_FILE_SIZE_WRITE_FAILED, "%sファイルサイズの書き込みに失敗\n")                         \
    X(MSG_WAVE_WRITE_FAILED, "%sWAVEヘッダの書き込みに失敗\n")                                  \
    X(MSG_FMT_WRITE_FAILED, "%sfmtチャンクの書き込みに失敗\n")                                  \
    X(MSG_FMT_ID_WRITE_FAILED, "%s\"fmt \"の書き込みに失敗\n")                                  \
    X(MSG_FMT_SIZE_WRITE_FAILED, "%sfmtチャンクサイズの書き込みに失敗\n")                       \
    X(MSG_FORMAT_TAG_WRITE_FAILED, "%sフォーマットIDの書き込みに失敗\n")                        \
    X(MSG_CHANNELS_WRITE_FAILED, "%sチャンネル数の書き込みに失敗\n")                            \
    X(MSG_RATE_WRITE_FAILED, "%sサンプリングレートの書き込みに失敗\n")                          \
    X(MSG_BYTE_RATE_WRITE_FAILED, "%sデータ速度の書き込みに失敗\n")                             \
    X(MSG_BLOCK_SIZE_WRITE_FAILED, "%sブロックサイズの書き込みに失敗\n")                        \
    X(MSG_BITS_WRITE_FAILED, "%s1サンプルあたりのビット数の書き込みに失敗\n")                   \
    X(MSG_DATA_ID_WRITE_FAILED, "%sdataチャンクの書き込みに失敗\n")                             \
    X(MSG_DATA_SIZE_WRITE_FAILED, "%sデータサイズの書き込みに失敗\n")                           \
    X(MSG_DATA_WRITE_FAILED, "%sデータの書き込みに失敗\n")                                      \
    /* analysis */                                                                             \
    X(TEXT_ANALYSIS_STARTED, "pmkファイル作成開始\n")                                           \
    X(TEXT_FRAME_T0_STARTED, "基本周期の計算開始\n")                                            \
    X(TEXT_FUNDAMENTAL_WAVE_STARTED, "ピッチ基本波の計算開始\n")                                \
    X(TEXT_ANALYSIS_FINISHED, "pmkファイル作成完了\n")                                          \
    X(MSG_ANALYSIS_MEMORY, "%sパラメータ抽出用作業用配列の確保に失敗\n")                        \
    X(MSG_T0_DETECTION_FAILED, "%sT0の検出に失敗\n")                                            \
    X(MSG_FRAME_T0_FAILED, "%s基本周期の計算に失敗\n")                                          \
    X(MSG_FUNDAMENTAL_WAVE_FAILED, "%sピッチ基本波の計算に失敗\n")                              \
    X(MSG_INVALID_RUN_RANGE, "%s有声区間の範囲指定が不正\n")                                    \
    X(MSG_RUN_MARKS_FAILED, "%s有声区間のパラメータ推定に失敗\n")                               \
    X(MSG_MARKS_FAILED, "%s音声パラメータの抽出に失敗\n")                                       \
    /* the .pmk cache */                                                                       \
    X(MSG_INVALID_INPUT_NAME, "%s入力音声ファイル名が不正\n")                                   \
    X(MSG_CACHE_NOT_CREATED, "%spmkファイルの作成に失敗\n")                                     \
    X(MSG_CACHE_NOT_RECORDED, "%s音声パラメータの記録に失敗\n")                                 \
    X(MSG_CACHE_RECORDING_FAILED, "%sパラメータ記録処理に失敗\n")                               \
    X(MSG_CACHE_NOT_OPENED, "%spmkファイルのオープンに失敗\n")                                  \
    X(MSG_VERSION_WRITE_FAILED, "%sバージョン番号の書き込みに失敗\n")                           \
    X(MSG_INVALID_MARK_PERIOD, "%sT0[%d]の値が不正 %d\n")                                       \
    X(MSG_INVALID_MARK_DISTANCE, "%sPitchMarkの値が不正 Mark[%d]=%d\tMark[%d]=%d\n")            \
    X(MSG_MEAN_WRITE_FAILED, "%s平均基本周期の書き込みに失敗\n")                                \
    X(MSG_MARK_COUNT_WRITE_FAILED, "%sピッチマーク数の書き込みに失敗\n")                        \
    X(MSG_MARK_WRITE_FAILED, "%sピッチマークの書き込みに失敗\n")                                \
    X(MSG_PERIOD_WRITE_FAILED, "%s基本周期の書き込みに失敗\n")                                  \
    X(MSG_VERSION_SKIP_FAILED, "%sバージョン情報の読み飛ばしに失敗\n")                          \
    X(MSG_MEAN_READ_FAILED, "%s平均基本周期の読み込みに失敗\n")                                 \
    X(MSG_ENTRY_COUNT_READ_FAILED, "%s合成パラメータ数の読み込みに失敗\n")                      \
    X(MSG_CACHE_MEMORY, "%sパラメータ読み込み用メモリの確保に失敗\n")                           \
    X(MSG_ENTRY_READ_FAILED, "%s合成パラメータの読み込みに失敗\n")                              \
    X(MSG_INVALID_ENTRY, "%s合成パラメータが不正\n")                                            \
    /* synthesis */                                                                            \
    X(MSG_OUTPUT_MEMORY, "%sデータ取り込み用メモリの確保に失敗\n")                              \
    X(MSG_MARKS_RAN_OUT, "%sピッチの読み込みに失敗\n")                                          \
    X(MSG_GRAIN_FAILED, "%sgフラグの処理に失敗\n")                                              \
    X(MSG_FIXED_PART_FAILED, "%s固定範囲の合成処理に失敗\n")                                    \
    X(MSG_VOWEL_PART_FAILED, "%s母音部の合成処理に失敗\n")                                      \
    X(MSG_G_LOWPASS_FAILED, "%sgフラグ用のローパスフィルタ処理に失敗\n")

namespace qern {

#define QERN_DEFINE_TEXT(name, text) inline constexpr char name[] = text;
QERN_MESSAGE_TEXTS(QERN_DEFINE_TEXT)
#undef QERN_DEFINE_TEXT

// A text of the table with the name the code knows it by.
struct MessageText {
    const char* name;
    const char* text;
};

#define QERN_LIST_TEXT(name, text) MessageText{#name, name},
// Every text above, in the order of the list.
inline constexpr MessageText MESSAGE_TABLE[] = {QERN_MESSAGE_TEXTS(QERN_LIST_TEXT)};
#undef QERN_LIST_TEXT

}  // namespace qern
