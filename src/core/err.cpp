#include "core/err.h"

#include <atomic>

#include "core/log.h"

namespace hx {

// Row order is fixed: the lookup walks from the first row and the web pages of
// older boards were written against this order.
const ST_PE_ERR g_stErrArray[] = {
    {0, "Success!", "成功"},
    {1, "Failure!", "失败"},
    {2, "Config timeout!", "配置超时"},
    {3, "Version error!", "版本错误"},
    {4, "Parameter error!", "参数错误"},
    {5, "CRC error!", "CRC校验错误"},
    {6, "File doesn't exist!", "文件不存在"},
    {7, "File doesn't read!", "文件无法读取"},
    {8, "Insufficient memory!", "内存不足"},
    {9, "Check upgrade file header failed", "升级文件头校验失败"},
    {10, "Check network synchronization failed", "网络同步校验失败"},
    {11, "No DNS information", "没有DNS信息"},
    {12, "No NetWork Card information", "没有网卡信息"},
    {13, "Parameter has been modified", "参数已被修改"},
    {14, "Real-time stream abnormal", "实时流异常"},
    {15, "Data structure does not match", "数据结构不匹配"},
    {16, "Hardware version  does not match", "硬件版本不匹配"},
    {17, "Device temperature is too high", "设备温度过高"},
    {18, "Unzip upgrade file failed", "解压升级文件失败"},
    {514, "Encoder config timeout!", "编码器配置超时"},
    {515, "Encoder parameters error!", "编码器参数错误"},
    {516, "Encoder firmware error!", "编码器固件错误"},
    {517, "Encoder doesn't lock signal!", "编码器未锁定信号"},
    {770, "Doesn't exist!", "不存在"},
    {774, "Web sent wrong parameters!", "网页发送的参数错误"},
    {775, "Get wrong parameters from server-side!", "从服务器端获取的参数错误"},
    {771, "Open memory failed!", "申请内存失败"},
    {772, "Get PE parameters failed!", "获取PE参数失败"},
    {773, "Set PE parameters failed!", "设置PE参数失败"},
    {776, "User authentication failed!", "用户认证失败"},
    {777, "Get player failed!", "获取播放器失败"},
    {778, "Get program list failed!", "获取节目列表失败"},
    {779, "Pack failed!", "打包失败"},
    {780, "Create folder failed!", "创建文件夹失败"},
    {1026, "Username or password, length error", "用户名或密码长度错误"},
    {1027, "Please Login", "请登录"},
    {1028, "User does not exist", "用户不存在"},
    {1029, "Users reach to the maximum number", "用户数已达上限"},
    {1030, "File open failed!", "文件打开失败"},
    {1031, "Password error", "密码错误"},
    {1032, "token error", "令牌错误"},
    {1033, "token has expired", "令牌已过期"},
    {1034, "User is logged in", "用户已登录"},
    {1035, "User does not have the permission to modify the module", "用户没有修改该模块的权限"},
    {1282, "Thread creation failed", "线程创建失败"},
    {1283, "Serial port receive data loss", "串口接收数据丢失"},
    {1284, "Serial port receive data header error", "串口接收数据头错误"},
    {1285, "Serial port receive data slot error", "串口接收数据槽位错误"},
    {1286, "Receive data loss via IP", "IP接收数据丢失"},
    {1287, "Temporary data is full on IP", "IP临时数据已满"},
    {1538, "IP communication socket open failed!", "IP通信套接字打开失败"},
    {1539, "IP communication socket connect failed!", "IP通信套接字连接失败"},
    {1540, "IP communication connect time out!", "IP通信连接超时"},
    {kErrPidConflict, "PID Conflict!", "PID冲突"},
    {kErrServiceIdConflict, "ServiceID Conflict!", "节目号冲突"},
    {2306, "Parameter input error", "参数输入错误"},
    {2307, "Array out of range", "数组越界"},
    {2308, "SI Subtable ID already exists", "SI子表ID已存在"},
    {2309, "NIT already exists", "NIT表已存在"},
    {2310, "NIT does not exist", "NIT表不存在"},
    {0xFFFFFFFFu, "", ""},
};

const std::size_t g_stErrArrayRows = sizeof g_stErrArray / sizeof g_stErrArray[0];

std::atomic<U32> g_enLanguage{EN_LANGUAGE_EN};

namespace {

constexpr std::size_t kLastSearchedRow = 1023;

}  // namespace

int err_SetLanguage(U32 enLanguage) {
    if (enLanguage > EN_LANGUAGE_GER) {
        return -1;
    }
    g_enLanguage = enLanguage;
    return 0;
}

vkLanguage err_GetLanguage() { return static_cast<vkLanguage>(g_enLanguage.load()); }

const char* err_GetErrCodeString(U32 enErrCode) {
    const U32 language = g_enLanguage;
    if (language >= EN_LANGUAGE_MAX) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "[%s]%d: Can't support this lanuage [%d]!\r\n\n", __func__, __LINE__,
               static_cast<int>(language));
        return nullptr;
    }
    std::size_t row = 0;
    while (row < g_stErrArrayRows - 1 && row < kLastSearchedRow && g_stErrArray[row].u32ErrCode != enErrCode) {
        ++row;
    }
    if (g_stErrArray[row].u32ErrCode != enErrCode) {
        row = g_stErrArrayRows - 1;
    }
    return language == EN_LANGUAGE_CN ? g_stErrArray[row].arcChinese : g_stErrArray[row].arcEnglish;
}

}  // namespace hx
