// Every text the user sees, in one place (UTF-8). Line breaks inside the system's messages are
// LF then CR ("\n\r") unless a message is quoted with CR LF; a display layer may show the
// LF CR pair as one line break. Templates use the directives of FormatMessage.
#pragma once

#include <array>
#include <string_view>

namespace fw::texts {

// ---- Titles ----------------------------------------------------------------------------
inline constexpr std::string_view kApplicationTitle = "Kerrow Ltd Firmware Updater";
inline constexpr std::string_view kMainWindowCaption = "Firmware Updater v.1.0";

// ---- General errors of the platform ----------------------------------------------------
inline constexpr std::string_view kCannotOpenFile = "Cannot open file %s";
inline constexpr std::string_view kCannotCreateFile = "Cannot create file %s";
inline constexpr std::string_view kNotValidInteger = "'%s' is not a valid integer value";
inline constexpr std::string_view kInvalidDateEncode = "Invalid argument to date encode";
inline constexpr std::string_view kInvalidTimeEncode = "Invalid argument to time encode";
inline constexpr std::string_view kListIndexOutOfBounds = "List index out of bounds (%d)";
inline constexpr std::string_view kRangeCheckError = "Range check error";
inline constexpr std::string_view kDriveNotRemovable = "Invalid drive. Drive is not removable";
// A read, write or flush of an open file failed: the file and the system's reason.
inline constexpr std::string_view kFileIoError = "Ошибка записи или чтения файла %s: %s";

// ---- Card data file --------------------------------------------------------------------
inline constexpr std::string_view kInvalidFormat =
    "Указанный файл ММС (%s)\n\rимеет неверный формат. Необходимо отформатировать ММС";
// What follows the wrong-format text when the header's section fields disagree: the field at
// fault with its value, then what it should be.
inline constexpr std::string_view kHeaderFieldMismatch =
    "Поле заголовка %s = %u, а должно быть %s = %u";
inline constexpr std::string_view kHeaderExtendedPastData =
    "Секция EXTENDED (ExtendedStart + ExtendedPages = %u) выходит за страницы данных "
    "(DataPages = %u)";
inline constexpr std::string_view kOutOfSpace =
    "Недостаточно места для записи\r\nТребуется %u. Свободно %u";
inline constexpr std::array<std::string_view, 9> kEntryListCaptions = {
    "N", "Тип", "Имя", "ID", "Дата", "HCLASS", "HREL", "SVER", "SREL"};
// Creating a card data file: refusals made before anything is written.
inline constexpr std::string_view kPagesOutOfRange =
    "Недопустимый размер файла ММС: %u страниц.\n\rДопустимо от 1 до %u страниц (2 ГБ)";
inline constexpr std::string_view kSectionsDoNotFit =
    "Секции сессий и EXTENDED не помещаются в файл ММС:\n\rтребуется %u страниц, в файле %u "
    "страниц данных";
// ---- Creating over an existing card: refusals made before the old file is touched ----
// The room counts the free space of the file system and the file that would be replaced.
inline constexpr std::string_view kCardNoRoom =
    "Недостаточно места для файла ММС %s:\n\rтребуется %u байт, можно занять %u байт";

// ---- HEX reader and memory regions -----------------------------------------------------
inline constexpr std::string_view kNotInWindow =
    "Секция %s образа загрузки не совпадает с заданной областью памяти процессора\n\r"
    "Область памяти: 0x%.6x-0x%.6x   Секция образа: 0x%.6x-0x%.6x";
inline constexpr std::string_view kHexChecksumError =
    "Ошибка контрольной суммы в строке %d файла %s";
inline constexpr std::string_view kHexIncompleteRecord = "Неполная запись в строке %d файла %s";
// HEX writer: a payload (FLASH, EEPROM, CONFIG) at its processor start address, its size in bytes.
inline constexpr std::string_view kHexBeyondAddressSpace =
    "Секция %s с адреса 0x%.6x (%u байт) выходит за 32-разрядные адреса файла HEX";

// ---- Write command ---------------------------------------------------------------------
inline constexpr std::string_view kNoHexFile = "Не указан файл для загрузки или файл отсутствует";
inline constexpr std::string_view kNoDevice = "Не указано устройство/процессор";
inline constexpr std::string_view kNoCardFile =
    "Не указан файл ММС для записи или файл отсутствует";
inline constexpr std::string_view kNameTooLong =
    "Наименование обновления \"%s\" длиннее 16 символов";
inline constexpr std::string_view kNameNotRepresentable =
    "Наименование обновления \"%s\" содержит символ \"%s\",\n\rкоторый нельзя записать на карту "
    "ММС (кодировка Windows-1251)";

// ---- Device catalogue, memory map and HEX information ----------------------------------
inline constexpr std::string_view kDeviceEntryText = " HClass=%d HRel=%d Sver=%d";
inline constexpr std::array<std::string_view, 4> kMemMapCaptions = {"Регион", "Begin", "End",
                                                                    "Size hex(dec) in addr units"};
inline constexpr std::array<std::string_view, 5> kMemMapRegions = {
    "Всего программной памяти", "Программной памяти приложения", "Всего памяти EEPROM",
    "Памяти EEPROM для приложения", "Конфигурационная память"};
inline constexpr std::array<std::string_view, 4> kHexInfoCaptions = {"", "Begin", "End",
                                                                     "Size hex(dec) in units"};
inline constexpr std::array<std::string_view, 4> kHexInfoRows = {"Flash", "Entry", "EEPROM",
                                                                 "Config"};

// ---- Main window -----------------------------------------------------------------------
inline constexpr std::string_view kGroupDevice = "Устройство \\ Процессор";
inline constexpr std::string_view kGroupProgramFile = "Файл программы";
inline constexpr std::string_view kGroupMedium = "Носитель";
inline constexpr std::string_view kLabelImage = "Образ для загрузки";
inline constexpr std::string_view kLabelUpdateName = "Наименование обновления";
inline constexpr std::string_view kLabelSver = "Старший номер\r\nверсии (ESVER)";
inline constexpr std::string_view kLabelSrel = "Младший номер\r\nверсии (ESREL)";
inline constexpr std::string_view kLabelHclass = "Класс устройства\r\n(EHCLASS)";
inline constexpr std::string_view kLabelHrel = "Аппаратная версия\r\n(EHREL)";
inline constexpr std::string_view kLabelCardFile = "Файл на карте ММС ";
inline constexpr std::string_view kButtonInfo = "Инфо";
inline constexpr std::string_view kCheckScramble = "Шифровать программу";
inline constexpr std::string_view kButtonFormat = "Форматировать ММС ...";
inline constexpr std::string_view kButtonWrite = "Записать";
inline constexpr std::string_view kButtonEject = "Извлечь";
inline constexpr std::string_view kButtonExit = "Выход";
inline constexpr std::string_view kHintHexInfo = "Ctrl+H";
inline constexpr std::string_view kHintCardInfo = "Crtl+F";
inline constexpr std::string_view kHintWrite = "Ctrl+W";
inline constexpr std::string_view kHintEject = "Ctrl+J";
inline constexpr std::string_view kBrowseTitle = "Укажите файл";
inline constexpr std::string_view kHexFilter = "Intel HEX32 (*.hex)|*.hex";
inline constexpr std::string_view kCardFileFilter = "Файл данных (*.rgd)|*.rgd";
inline constexpr std::string_view kDefaultUpdateName = "Update";
// What assistive technology says for the controls that have no caption of their own, and the
// browse button inside the file name fields (its tooltip names its keys).
inline constexpr std::string_view kNameMemoryMap = "Карта памяти устройства";
inline constexpr std::string_view kNameHexInfo = "Области файла программы";
inline constexpr std::string_view kNameEntries = "Записи файла на карте ММС";
inline constexpr std::string_view kBrowseName = "Выбрать файл";
inline constexpr std::string_view kBrowseHint = "Выбрать файл (F4 или Alt+Стрелка вниз)";

// ---- Settings ----------------------------------------------------------------------------
inline constexpr std::string_view kSettingWrongKind =
    "Значение \"%s\" в настройках %s имеет неверный тип";
inline constexpr std::string_view kSettingsFileBroken =
    "Файл настроек %s повреждён (строка %d).\n\rИсправьте или удалите его";
inline constexpr std::string_view kSettingsFileUnreadable =
    "Файл настроек %s не может быть прочитан.\n\rИсправьте или удалите его";

// ---- Card preparation dialog -----------------------------------------------------------
inline constexpr std::string_view kFormatCaption = "Форматирование ММС";
inline constexpr std::string_view kGroupDrive = "Диск для форматирования";
inline constexpr std::string_view kDriveHint =
    "Укажите какой диск в системе соответствует считывателю ММС карты. ММС карта должна быть "
    "установлена в считыватель";
inline constexpr std::string_view kGroupFileParams = "Параметры файла";
inline constexpr std::string_view kLabelFileSize = "Размер файла в мегабайтах (МВ)";
inline constexpr std::string_view kLabelSessions = "Максимальное число сессий";
inline constexpr std::string_view kLabelExtSize = "Размер секции EXTENDED (MB)";
inline constexpr std::string_view kGroupStatus = "Статус";
inline constexpr std::string_view kButtonStartFormat = "Форматировать";
inline constexpr std::string_view kButtonAbort = "Прервать";
inline constexpr std::string_view kNoCards =
    "Нет установленых карт ММС или считыватель не подключен.";
// Pieces of a drive item: letter, label, file system, size MB, free MB.
inline constexpr std::string_view kDriveItemLabel = ":  Метка:";
inline constexpr std::string_view kDriveItemFs = " (";
inline constexpr std::string_view kDriveItemSize = ")  Размер: ";
inline constexpr std::string_view kDriveItemFree = "M  Свободно: ";
inline constexpr std::string_view kDriveItemEnd = "M";
inline constexpr std::string_view kFormatConfirm =
    "Выбраный диск для правильного использования \n\r"
    "в системе \"НУБРА-7\" ДОЛЖЕН быть отформатирован.\n\r"
    "При этом ВСЯ информация на этом диске будет УДАЛЕНА!\n\r"
    "Выполнить форматирование?\n\r"
    "После ответа \"Да\" ,будет открыт диалог форматирования.\n\r"
    "ВНИМАНИЕ! Форматирование необходимо выполнить для системы FAT.\n\r"
    "систему FAT32 НЕ ИСПОЛЬЗОВАТЬ!";
inline constexpr std::string_view kStatusFormatting = "Форматирование файловой системы";
inline constexpr std::string_view kStatusFormatFailed = "Форматирование НЕ выполнено!";
inline constexpr std::string_view kStatusWritingHeader = "Запись заголовка";
inline constexpr std::string_view kStatusWritingPages = "Запись служебной информации в %u страниц";
inline constexpr std::string_view kProgressPage = "Запись страницы %u";
inline constexpr std::string_view kFormatAborted = "Форматирование прервано пользователем";
inline constexpr std::string_view kFormatDone =
    "Форматирование завершено. Создан файл %s ,\n\rразмером %d байт, содержащий %d страниц данных";
inline constexpr std::string_view kSessionsInvalid =
    "Максимальное число сессий \"%s\" должно быть целым числом больше 0";
inline constexpr std::string_view kFreeSpaceFailed =
    "Не удалось определить свободное место на диске %s";
inline constexpr std::string_view kVolumeTooLargeForFat16 =
    "Том %s слишком велик для FAT16 (%u МБ).\n\rДопустимо не более 2047 МБ";
// The card commands of the command line (drives, prepare, eject).
inline constexpr std::string_view kUnknownDrive = "Съёмный диск %s не найден. Найденные диски: %s";
inline constexpr std::string_view kOptionOutOfRange =
    "Параметр %s: значение %u вне допустимого диапазона %u..%u для диска %s";
inline constexpr std::string_view kPrepareNotConfirmed =
    "Карта не подготовлена: форматирование не подтверждено (подтверждение: --yes)";
inline constexpr std::string_view kFormatFailedBecause = "Причина: %s";
// The system's volume service (on Linux UDisks2 over the system D-Bus) cannot be reached; %s
// is the technical reason.
inline constexpr std::string_view kVolumeServiceUnreachable =
    "Нет связи со службой съёмных дисков: %s";

// ---- Command line ----------------------------------------------------------------------
inline constexpr std::string_view kPathOnNoCard = "Путь %s не находится на съёмном диске";
// The device catalogue cannot be used: the reason, then the paths tried (one a line, in the
// order they were tried).
inline constexpr std::string_view kCataloguePathsTried =
    "%s\n\rКаталог устройств искали здесь (по порядку):%s";
inline constexpr std::string_view kCatalogueNotFound = "Каталог устройств DEV_LIST.dat не найден";
inline constexpr std::string_view kCatalogueEmpty =
    "В каталоге устройств %s нет ни одного устройства";
inline constexpr std::string_view kUnknownDevice = "Устройство \"%s\" не найдено в каталоге %s";
inline constexpr std::string_view kCardFileExists =
    "Файл %s уже существует. Чтобы заменить его, укажите --force";
inline constexpr std::string_view kCardFileCreated =
    "Создан файл %s ,\n\rразмером %u байт, содержащий %u страниц данных";
inline constexpr std::string_view kEntryNotFound = "В файле ММС %s нет записи %d (записей: %d)";
inline constexpr std::string_view kVerifyEntryOk =
    "Запись %d (страница %u, ID %u): контрольные суммы верны";
// The last %s lists the failing checks: header, pages, FLASH, EEPROM, CONFIG.
inline constexpr std::string_view kVerifyEntryFailed =
    "Запись %d (страница %u, ID %u): не сходится: %s";
inline constexpr std::string_view kVerifySummary = "Проверено записей: %d, с ошибками: %d";
inline constexpr std::string_view kEntryDamaged =
    "Запись %d файла ММС %s повреждена (не сходится: %s), извлечь её нельзя";
// The entry's number, the card file and the reason from the HEX writer.
inline constexpr std::string_view kEntryNotExtractable =
    "Запись %d файла ММС %s извлечь нельзя: %s";
inline constexpr std::string_view kFileWritten = "Записан файл %s (%u байт)";

// ---- Refused files, catalogue devices and names ------------------------------------------
// A file could not be opened or created: the system's text, then why.
inline constexpr std::string_view kFileFailedBecause = "%s: %s";
inline constexpr std::string_view kReasonHeldByWriter =
    "файл занят: его уже открыла для записи другая программа или другая копия этой программы";
inline constexpr std::string_view kReasonNotPermitted = "нет прав на доступ к файлу";
inline constexpr std::string_view kReasonReadOnlyMedium =
    "носитель доступен только для чтения (защищён от записи)";
inline constexpr std::string_view kReasonMissing = "файл не найден";
// A folder to create where a file of that name (or of one of its parent folders) is.
inline constexpr std::string_view kReasonNotAFolder =
    "это не папка: на её месте (или на месте одной из папок пути) находится файл";
inline constexpr std::string_view kReasonNotRegularFile =
    "это не обычный файл (папка, канал FIFO или устройство)";
inline constexpr std::string_view kFileTooLarge =
    "Файл %s слишком велик (%u байт): допустимо не более %u байт";
// A HEX file that ends without its end-of-file record, or that holds no record at all.
inline constexpr std::string_view kHexNoEndRecord =
    "Файл %s оборван: в нём нет записи конца файла (:00000001FF).\n\rВероятно, он скопирован "
    "или загружен не полностью";
// A HEX file that holds no word in any memory of the device's processor: its name, the device's.
inline constexpr std::string_view kHexNoDataForDevice =
    "Файл %s не содержит данных для устройства \"%s\":\n\rв нём нет ни одного слова памяти "
    "FLASH, EEPROM или CONFIG его процессора";
inline constexpr std::string_view kHexNoRecords =
    "Файл %s не является файлом Intel HEX: в нём нет ни одной записи";
// A catalogue device whose addresses cannot be used: its name, its section, then the key and the
// value at fault (and the keys they are measured against).
inline constexpr std::string_view kDeviceAddressOutside =
    "Устройство \"%s\" (%s) каталога использовать нельзя:\n\r%s=%s лежит вне адресного "
    "пространства процессора 0x000000..0xFFFFFF";
inline constexpr std::string_view kDeviceRangeReversed =
    "Устройство \"%s\" (%s) каталога использовать нельзя:\n\r%s=%s больше, чем %s=%s";
inline constexpr std::string_view kDeviceWindowOutside =
    "Устройство \"%s\" (%s) каталога использовать нельзя:\n\r%s=%s лежит вне памяти "
    "%s=%s..%s=%s";
// An update name with a control character (shown escaped, as \x1b, \t, \n, \r).
inline constexpr std::string_view kNameControlChar =
    "Наименование обновления \"%s\" содержит управляющий символ %s,\n\rкоторый нельзя записать "
    "на карту ММС";
// ---- Card checks, committed writes and hidden entries ----------------------------------
// The entry header page reached the card (the entry exists), but reading the file back
// afterwards failed: the two facts are told apart so that nobody repeats the write.
inline constexpr std::string_view kEntryWritten =
    "Обновление записано в файл ММС %s: запись ID %u (страница %u)";
inline constexpr std::string_view kReadBackFailed =
    "Файл ММС %s после записи перечитать не удалось: %s\n\rЗапись уже сделана, повторять её не "
    "нужно";
inline constexpr std::string_view kNewEntryNotReadBack =
    "новая запись не найдена в цепочке записей";
// write --verify: the new entry read from the card (not from the cache) does not hold.
inline constexpr std::string_view kWrittenEntryDamaged =
    "Запись ID %u (страница %u) файла ММС %s, прочитанная с карты после записи, повреждена "
    "(не сходится: %s)";
// The EXTENDED section runs past the real end of a file cut short.
inline constexpr std::string_view kCardFileTooShort =
    "Файл ММС %s короче, чем указано в его заголовке: не хватает %u байт\n\r(по заголовку %u "
    "байт, в файле %u). Запись за конец файла невозможна\n\rТребуется %u. Свободно %u";
inline constexpr std::string_view kEntryIdsExhausted =
    "В файле ММС %s уже есть запись с ID 65535:\n\rномера записей исчерпаны, новую запись "
    "добавить нельзя";
// Pages beyond the end of the chain that look like entry headers; one line per entry follows.
inline constexpr std::string_view kOrphanedEntries =
    "В секции EXTENDED файла ММС %s за концом цепочки найдены записи,\n\rкоторых нет в списке "
    "(%d):";
inline constexpr std::string_view kOrphanedEntry = "страница %u, ID %u, имя \"%s\"";
// Entries of the chain whose PageCount does not match their sizes; one line per entry follows.
inline constexpr std::string_view kWrongPagesEntries =
    "В цепочке записей файла ММС %s найдены записи, число страниц которых\n\rне сходится с их "
    "размерами (%d):";
inline constexpr std::string_view kWrongPagesEntry =
    "запись %d, страница %u, ID %u, имя \"%s\": PageCount %u, по размерам %u";
inline constexpr std::string_view kOrphansRefused =
    "Новая запись может их затереть. Запись не выполнена; чтобы записать, укажите --force";
inline constexpr std::string_view kOrphansQuestion = "Новая запись может их затереть. Записать?";
// verify: what the whole file fails; the last %s of each is the failure's name.
inline constexpr std::string_view kVerifySizeFailed =
    "Файл ММС %s: размер %u байт, по заголовку %u байт: не сходится: %s";
inline constexpr std::string_view kVerifyOrphansFailed = "Файл ММС %s: не сходится: %s";

// ---- Ejection --------------------------------------------------------------------------
inline constexpr std::string_view kEjectDone = "Диск %s: может быть безопасно извлечен";
inline constexpr std::string_view kEjectFailed =
    "Ошибка при попытке извлечения диска %s\n\rВероятно он открыт в другом приложении. Закройте "
    "приложения\n\rкоторые могут использовать этот диск или укажите для этих приложений\n\rдругой "
    "диск.";

}  // namespace fw::texts
