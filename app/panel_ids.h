// Panel and control constants of Panel_def.uir. A unit test proves that every constant
// here names the same id as the resource, and that the resource has no constant missing here.
#pragma once

// Panels (the id LoadPanel receives).
inline constexpr int DATA_LOG = 1;
inline constexpr int INFO = 2;
inline constexpr int PANEL = 3;
inline constexpr int PANEL_2 = 4;
inline constexpr int PANEL_3 = 5;
inline constexpr int PANEL_4 = 6;
inline constexpr int PASSWORD = 7;
inline constexpr int WR_ASCII = 8;
inline constexpr int WRITE_VAL = 9;

// Controls of DATA_LOG ("Data Logger").
inline constexpr int DATA_LOG_EXIT = 2;
inline constexpr int DATA_LOG_DECORATION_2 = 3;
inline constexpr int DATA_LOG_FILE_NAME = 4;
inline constexpr int DATA_LOG_OPEN_CREATE_FILE = 5;
inline constexpr int DATA_LOG_WRITE_FILE = 6;
inline constexpr int DATA_LOG_STOP_WRITE_FILE = 7;
inline constexpr int DATA_LOG_TEXTMSG_2 = 8;
inline constexpr int DATA_LOG_WRITE_TIMER = 9;
inline constexpr int DATA_LOG_FILE_SIZE = 10;
inline constexpr int DATA_LOG_DATALOG_MSG = 11;
inline constexpr int DATA_LOG_BROWSE = 12;

// Controls of INFO ("Info").
inline constexpr int INFO_TEXTMSG_2 = 2;
inline constexpr int INFO_TEXTMSG_3 = 3;
inline constexpr int INFO_TEXTMSG_4 = 4;
inline constexpr int INFO_TEXTMSG_5 = 5;
inline constexpr int INFO_TEXTMSG_6 = 6;
inline constexpr int INFO_TEXTMSG_7 = 7;
inline constexpr int INFO_EXIT = 8;
inline constexpr int INFO_TEXTMSG_8 = 9;
inline constexpr int INFO_TEXTMSG = 10;

// Controls of PANEL ("----").
inline constexpr int PANEL_MEASURE_STATUS = 2;
inline constexpr int PANEL_FREQUENCY = 3;
inline constexpr int PANEL_OUTPUT_MA = 4;
inline constexpr int PANEL_TEMPERATURE = 5;
inline constexpr int PANEL_LEVEL_PERC = 6;
inline constexpr int PANEL_LEVEL_MM = 7;
inline constexpr int PANEL_DISTANCE_MM = 8;
inline constexpr int PANEL_DECORATION_2 = 9;
inline constexpr int PANEL_UID = 10;
inline constexpr int PANEL_BLIND_DISTANCE = 11;
inline constexpr int PANEL_DISTANCE_20MA = 12;
inline constexpr int PANEL_DISTANCE_4MA = 13;
inline constexpr int PANEL_DECORATION = 14;
inline constexpr int PANEL_SLAVE_ADDRESS = 15;
inline constexpr int PANEL_DECORATION_3 = 16;
inline constexpr int PANEL_ERROR_COMM_LED = 17;
inline constexpr int PANEL_RL2_LED = 18;
inline constexpr int PANEL_RL1_LED = 19;
inline constexpr int PANEL_ERROR_COM_MSG = 20;
inline constexpr int PANEL_DECORATION_4 = 21;
inline constexpr int PANEL_NUMERICTANK = 22;
inline constexpr int PANEL_EXIT = 23;
inline constexpr int PANEL_INFO = 24;
inline constexpr int PANEL_SET_UP = 25;
inline constexpr int PANEL_SET_UP_UT = 26;
inline constexpr int PANEL_CONFIG_SER_PORT = 27;
inline constexpr int PANEL_DECORATION_7 = 28;
inline constexpr int PANEL_DECORATION_6 = 29;
inline constexpr int PANEL_ERROR_MSG_LED = 30;
inline constexpr int PANEL_TIMER = 31;
inline constexpr int PANEL_SENSOR = 32;
inline constexpr int PANEL_ERROR_MSG = 33;
inline constexpr int PANEL_DECORATION_5 = 34;
inline constexpr int PANEL_TEXTMSG_7 = 35;
inline constexpr int PANEL_TEXTMSG_3 = 36;
inline constexpr int PANEL_TEXTMSG_4 = 37;
inline constexpr int PANEL_TEXTMSG = 38;
inline constexpr int PANEL_TEXTMSG_2 = 39;
inline constexpr int PANEL_DECORATION_8 = 40;
inline constexpr int PANEL_LOGGER = 41;
inline constexpr int PANEL_DECORATION_9 = 42;
inline constexpr int PANEL_N_POLLS = 43;
inline constexpr int PANEL_N_VALID_RESP = 44;
inline constexpr int PANEL_NUMERIC = 45;
inline constexpr int PANEL_LAST_VALID = 46;
inline constexpr int PANEL_TRAFFIC = 47;
inline constexpr int PANEL_TREND = 48;

// Controls of PANEL_2 ("RS485 Settings").
inline constexpr int PANEL_2_PARITY = 2;
inline constexpr int PANEL_2_DATA_BITS = 3;
inline constexpr int PANEL_2_BAUD_RATE = 4;
inline constexpr int PANEL_2_BIT_STOP = 5;
inline constexpr int PANEL_2_COMPORT = 6;
inline constexpr int PANEL_2_Porta = 7;
inline constexpr int PANEL_2_TEXTMSG = 8;
inline constexpr int PANEL_2_EXIT = 9;
inline constexpr int PANEL_2_DECORATION = 10;
inline constexpr int PANEL_2_APPLY = 11;
inline constexpr int PANEL_2_SAVE_SETTINGS = 12;
inline constexpr int PANEL_2_DEVICE_PATH = 13;
inline constexpr int PANEL_2_FIND_TRANSMITTER = 14;
inline constexpr int PANEL_2_CONNECTION = 15;  // 0 serial port, 1 RTU over TCP, 2 Modbus TCP
inline constexpr int PANEL_2_NET_HOST = 16;
inline constexpr int PANEL_2_NET_PORT = 17;

// Controls of PANEL_3 ("Advanced Set Up").
inline constexpr int PANEL_3_TEXTMSG = 2;
inline constexpr int PANEL_3_MINDELTA = 3;
inline constexpr int PANEL_3_CYCLES_NUM = 4;
inline constexpr int PANEL_3_EMISSION_TIME = 5;
inline constexpr int PANEL_3_EPOT_20C = 6;
inline constexpr int PANEL_3_ALPHA = 7;
inline constexpr int PANEL_3_V0 = 8;
inline constexpr int PANEL_3_Z_VALUE = 9;
inline constexpr int PANEL_3_DAC_20MA = 10;
inline constexpr int PANEL_3_DAC_4MA = 11;
inline constexpr int PANEL_3_DECORATION = 12;
inline constexpr int PANEL_3_DECORATION_2 = 13;
inline constexpr int PANEL_3_EXIT_3 = 14;
inline constexpr int PANEL_3_CONFIG_INDEX_6 = 15;
inline constexpr int PANEL_3_CONFIG_INDEX_4 = 16;
inline constexpr int PANEL_3_CONFIG_INDEX_2 = 17;
inline constexpr int PANEL_3_CONFIG_INDEX_3 = 18;
inline constexpr int PANEL_3_CONFIG_INDEX_5 = 19;
inline constexpr int PANEL_3_CONFIG_INDEX_7 = 20;
inline constexpr int PANEL_3_CONFIG_INDEX_8 = 21;
inline constexpr int PANEL_3_CONFIG_INDEX_1 = 22;
inline constexpr int PANEL_3_TEXTMSG_2 = 23;
inline constexpr int PANEL_3_FREQUENCY = 24;
inline constexpr int PANEL_3_TEMPERATURE = 25;
inline constexpr int PANEL_3_BACKUP = 26;
inline constexpr int PANEL_3_COMPARE = 27;
inline constexpr int PANEL_3_RESTORE = 28;

// Controls of PANEL_4 ("User Set Up").
inline constexpr int PANEL_4_MB_PARITY = 2;
inline constexpr int PANEL_4_TEXTMSG = 3;
inline constexpr int PANEL_4_MB_BAUD_RATE = 4;
inline constexpr int PANEL_4_RL1_PUMP_DELAY = 5;
inline constexpr int PANEL_4_RL1_PUMP_LOWER = 6;
inline constexpr int PANEL_4_RL1_PUMP_UPPER = 7;
inline constexpr int PANEL_4_RL2_TH_DELAY = 8;
inline constexpr int PANEL_4_RL1_PUMP_FILLEMPTY = 9;
inline constexpr int PANEL_4_RL2_TH_MINMAX = 10;
inline constexpr int PANEL_4_RL2_TH_SAFETY = 11;
inline constexpr int PANEL_4_RL1_PUMP_ENABLE = 12;
inline constexpr int PANEL_4_RL2_TH_ENABLE = 13;
inline constexpr int PANEL_4_RL2_DIAG_ENABLE = 14;
inline constexpr int PANEL_4_RL1_TH_DELAY = 15;
inline constexpr int PANEL_4_RL1_TH_MINMAX = 16;
inline constexpr int PANEL_4_DECORATION = 17;
inline constexpr int PANEL_4_RL1_TH_SAFETY = 18;
inline constexpr int PANEL_4_RL2_TH_VAL = 19;
inline constexpr int PANEL_4_RL1_TH_VAL = 20;
inline constexpr int PANEL_4_RL1_TH_ENABLE = 21;
inline constexpr int PANEL_4_FILTER_COEFF = 22;
inline constexpr int PANEL_4_FROZENGAIN = 23;
inline constexpr int PANEL_4_DECORATION_2 = 24;
inline constexpr int PANEL_4_MAXGAIN_TH = 25;
inline constexpr int PANEL_4_OUTPUT_SAFE_MODE = 26;
inline constexpr int PANEL_4_MEDIUM = 27;
inline constexpr int PANEL_4_DECORATION_4 = 28;
inline constexpr int PANEL_4_DECORATION_5 = 29;
inline constexpr int PANEL_4_USCITA = 30;
inline constexpr int PANEL_4_DECORATION_3 = 31;
inline constexpr int PANEL_4_SYMB_SEC_3 = 32;
inline constexpr int PANEL_4_SYMB_SEC_2 = 33;
inline constexpr int PANEL_4_RL1_PUMP_LOWER_UNIT = 34;
inline constexpr int PANEL_4_RL1_PUMP_UPPER_UNIT = 35;
inline constexpr int PANEL_4_RL2_TH_UNIT = 36;
inline constexpr int PANEL_4_SYMB_SEC = 37;
inline constexpr int PANEL_4_RL1_TH_UNIT = 38;
inline constexpr int PANEL_4_TEXTMSG_2 = 39;
inline constexpr int PANEL_4_TEXTMSG_3 = 40;
inline constexpr int PANEL_4_TEXTMSG_4 = 41;
inline constexpr int PANEL_4_TEXTMSG_12 = 42;
inline constexpr int PANEL_4_TEXTMSG_5 = 43;
inline constexpr int PANEL_4_DECORATION_6 = 44;
inline constexpr int PANEL_4_TEXTMSG_11 = 45;
inline constexpr int PANEL_4_TEXTMSG_10 = 46;
inline constexpr int PANEL_4_TEXTMSG_9 = 47;
inline constexpr int PANEL_4_TEXTMSG_7 = 48;
inline constexpr int PANEL_4_WIDTH = 49;
inline constexpr int PANEL_4_BACKUP = 50;
inline constexpr int PANEL_4_COMPARE = 51;
inline constexpr int PANEL_4_RESTORE = 52;

// Controls of PASSWORD ("Password").
inline constexpr int PASSWORD_STRING = 2;
inline constexpr int PASSWORD_ENTER = 3;
inline constexpr int PASSWORD_EXIT = 4;
inline constexpr int PASSWORD_TEXTMSG = 5;

// Controls of WR_ASCII ("Config Index").
inline constexpr int WR_ASCII_CONF_VAL = 2;
inline constexpr int WR_ASCII_EXIT = 3;
inline constexpr int WR_ASCII_STRING = 4;

// Controls of WRITE_VAL ("Write Register Value").
inline constexpr int WRITE_VAL_WRITE_VALUE = 2;
inline constexpr int WRITE_VAL_CONF_VAL = 3;
inline constexpr int WRITE_VAL_EXIT = 4;
inline constexpr int WRITE_VAL_TEXTMSG = 5;
