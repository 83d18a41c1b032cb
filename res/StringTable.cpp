// The string table: every text the program shows, by id.
#include "res/Texts.h"

#include <map>

#include "res/Resource.h"

namespace {

const std::map<unsigned, std::string>& Table()
{
    static const std::map<unsigned, std::string> table = {
        {IDS_ABOUTBOX, "&About Torvane..."},
        {1001, "FFFDF"},
        {1002, "FFFE3"},
        {1003, "FFFEB"},
        {1004, "FFFEF"},
        {1005, "FFFF3"},
        {1006, "FFFF7"},
        {1007, "FFFFB"},
        {IDS_TOO_SMALL_START, "Too small start address."},
        {IDS_DID_NOT_PASS_ID, "Did not pass ID."},
        {IDS_CAN_NOT_COMMUNICATE, "Can not communicate."},
        {IDS_NOT_BLANK, "Find not blank at address\r"},
        {IDS_STOP_PROGRAMMING, "Stop programming."},
        {IDS_NOT_MATCH, "Find not match at address\r"},
        {IDS_CAN_NOT_ACCEPT_FILE, "Can not accept this file."},
        {IDS_NO_ID_FILE, "Can not found the ID file."},
        {IDS_NOT_MATCH_ID, "Not match ID."},
        {IDS_NO_FILENAME, "Did not input filename."},
        {IDS_NO_OUTSIDE, "Can not communicate to outside."},
        {IDS_ERASE_ERROR, "Erase error."},
        {IDS_ERASE_OK, "Erase OK."},
        {IDS_PROGRAM_ERROR, "Program error."},
        {IDS_PROGRAM_OK, "Program OK."},
        {IDS_COMM_ERROR_STARTUP, "Communication error.\nPlease reset Orvex ( toggle power supply )."},
        {IDS_COMM_ERROR_SETTING, "Communication error.\nPlease reset Orvex ( toggle power supply )."},
        {IDS_TIMEOUT_ERROR, "Timeout Error.\nPlease reset Orvex ( toggle power supply )."},
        {IDS_NO_9600, "Can not set baudrate to 9600bps."},
        {IDS_CAPTION, "Firmaware Upgrade"},
        {IDS_STOP_DOWNLOADING, "Stop downloading."},
        {IDS_DOWNLOAD_COMPLETED, "Download Completed."},
        {1101, "FFFFDF"},
        {1102, "FFFFE3"},
        {1103, "FFFFEB"},
        {1104, "FFFFEF"},
        {1105, "FFFFF3"},
        {1106, "FFFFF7"},
        {1107, "FFFFFB"},
        {IDS_ALREADY_RUNNING, "This program is already running."},
    };
    return table;
}

} // namespace

std::string LoadText(unsigned id)
{
    const auto& table = Table();
    auto it = table.find(id);
    return it == table.end() ? std::string() : it->second;
}
