#pragma once

// Every fixed text the command driver prints or raises, kept together so that
// the operator guide can be checked against them. Formats keep their
// placeholders; the texts printed without arguments contain no "%".
namespace driver_message {
constexpr char kNoCommand[] = "Ошибка! Не указана команда! Используйте -help для получения информации о командах.";
constexpr char kUnknownCommand[] =
    "Ошибка! Неизвестная команда! Используйте -help для получения информации о командах.";
// Follows the option parser's own message on the same line.
constexpr char kBadOptions[] = " Неправильные параметры.";
constexpr char kBanner[] = "%s версия %d.%02d.%02d.%02d\n";
// The letter after "считывателя" is the Cyrillic А.
constexpr char kConnecting[] = "\nПодключение считывателя А (#First)...\n";
constexpr char kCannotConnect[] = "Ошибка! Невозможно подключиться к СЗИ!";
constexpr char kCannotBeginTransaction[] = "Ошибка! Невозможно открыть транзакцию!";
constexpr char kControlling[] = "Контроль СЗИ...\n";
constexpr char kNoSerialNumber[] = "Ошибка! Серийный номер СЗИ не получен!";
constexpr char kControlNotPassed[] = "Ошибка! Контроль СЗИ не пройден!";
constexpr char kControlNotPerformed[] = "Ошибка! Контроль СЗИ не выполнен!";
constexpr char kPassed[] = "Контроль СЗИ успешно выполнен.\n";
constexpr char kLabel[] = "Номер СЗИ: %s\n";
constexpr char kElapsed[] = "Выполнено (%.3f сек.)\n";
constexpr char kUnexpected[] = "Непредвиденная ошибка!\n";

constexpr const char* kAll[] = {
    kNoCommand,
    kUnknownCommand,
    kBadOptions,
    kBanner,
    kConnecting,
    kCannotConnect,
    kCannotBeginTransaction,
    kControlling,
    kNoSerialNumber,
    kControlNotPassed,
    kControlNotPerformed,
    kPassed,
    kLabel,
    kElapsed,
    kUnexpected,
};
}  // namespace driver_message
