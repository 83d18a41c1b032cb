#pragma once
// Resource ids: dialog templates, controls, strings and the icon.

// Dialog templates.
enum : int {
    IDD_ABOUTBOX = 100,
    IDD_TORVANE_DIALOG = 102,
    IDD_IDCHECK = 129,   // "Load Upgrade File"
    IDD_SETADDRESS = 130, // "Input Address"
    IDD_PREWRITE = 131,  // "Program"
    IDD_PROGRESS = 136,
    IDD_FIRSTSET = 137,
    IDD_STATES = 140,
    IDD_PREERASE = 141,
    IDD_SETCOMM = 150,   // "Set baudrate"
    IDD_S_PRG = 156,     // port selection
    IDD_VERSION = 158,
    IDD_DOWNLOAD = 159,
    IDD_SELECT = 160,
};

// Icon.
enum : int { IDR_MAINFRAME = 128 };

// System-menu command of the about box.
enum : unsigned { IDM_ABOUTBOX = 0x0010 };

// Controls of the main panel (102).
enum : int {
    IDC_ERASE = 1000,
    IDC_LOAD_ID = 1005,
    IDC_BLANK = 1006,
    IDC_READ = 1007,
    IDC_BPR = 1008,
    IDC_PROGRAM = 1009,
    IDC_EPR = 1010,
    IDC_SETTING = 1015,
    IDC_STATUS = 1034,
    IDC_DOWNLOAD = 1063,
    IDC_VERSION = 1064,
};

// "Load Upgrade File" (129) and file selection (160).
enum : int {
    IDC_ID1 = 1002, IDC_ID2 = 1003, IDC_ID3 = 1004, IDC_ID4 = 1005, IDC_ID5 = 1006, IDC_ID6 = 1007, IDC_ID7 = 1008,
    IDC_LOAD = 1010,     // "Load" (129), "Refer..." (160)
    IDC_FILENAME = 1011,
    IDC_CHIP_2062 = 1053,
    IDC_CHIP_80 = 1054,
};

// "Input Address" (130).
enum : int { IDC_START_ADDRESS = 1012, IDC_END_ADDRESS = 1013 };

// "Program" area dialog (131).
enum : int { IDC_PREWRITE_END = 1002, IDC_PREWRITE_START = 1016 };

// Progress window (136).
enum : int { IDC_PROGRESS_BAR = 1020, IDC_PROGRESS_MESSAGE = 1021 };

// "Status" (140).
enum : int {
    IDC_ST_CHECKSUM = 1002,
    IDC_ST_READY = 1035,
    IDC_ST_PROGRAM = 1036,
    IDC_ST_AFTERBLOCK = 1037,
    IDC_ST_ERASE = 1038,
    IDC_ST_IDCHECK = 1039,
    IDC_ST_RECEIVE_TIMEOUT = 1040,
    IDC_ST_OVER_NUMBER = 1041,
};

// "Set baudrate" (150).
enum : int { IDC_BAUDRATE = 1020, IDC_PAGE_PAUSE = 1044, IDC_ORVEX_ON = 1045 };

// Port selection (156).
enum : int { IDC_INTERNAL_FLASH = 1055, IDC_BOOT_LOADER = 1056, IDC_PORT = 1060 };

// "Firmware Version" (158).
enum : int { IDC_VERSION_TEXT = 1062 };

// String table.
enum : unsigned {
    IDS_ABOUTBOX = 101,
    IDS_ID_KEY_STYLE0 = 1001, // 1001..1007: "FFFDF".."FFFFB"
    IDS_TOO_SMALL_START = 1009,
    IDS_DID_NOT_PASS_ID = 1010,
    IDS_CAN_NOT_COMMUNICATE = 1011,
    IDS_NOT_BLANK = 1012,
    IDS_STOP_PROGRAMMING = 1013,
    IDS_NOT_MATCH = 1014,
    IDS_CAN_NOT_ACCEPT_FILE = 1015,
    IDS_NO_ID_FILE = 1016,
    IDS_NOT_MATCH_ID = 1017,
    IDS_NO_FILENAME = 1019,
    IDS_NO_OUTSIDE = 1020,
    IDS_ERASE_ERROR = 1021,
    IDS_ERASE_OK = 1022,
    IDS_PROGRAM_ERROR = 1023,
    IDS_PROGRAM_OK = 1024,
    IDS_COMM_ERROR_STARTUP = 1026,
    IDS_COMM_ERROR_SETTING = 1027,
    IDS_TIMEOUT_ERROR = 1030,
    IDS_NO_9600 = 1033,
    IDS_CAPTION = 1034,
    IDS_STOP_DOWNLOADING = 1035,
    IDS_DOWNLOAD_COMPLETED = 1037,
    IDS_ID_KEY_STYLE1 = 1101, // 1101..1107: "FFFFDF".."FFFFFB"
    IDS_ALREADY_RUNNING = 1108,
};
