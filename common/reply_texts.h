// The fixed texts that reach a page as a reply or the operator as a status-log line. Some share
// their wording but not their meaning ("读卡失败" is three of them); each has its own name.
#pragma once

namespace kavenor::texts {

// Replies of the reader operations.
inline constexpr char16_t kNoDevice[] = u"连接设备失败";         // no port of the reader opens
inline constexpr char16_t kCardAuthFailed[] = u"卡认证失败";     // the identity card does not authenticate
inline constexpr char16_t kCardReadFailed[] = u"读卡失败";       // its content cannot be read
inline constexpr char16_t kSamIdFailed[] = u"获取安全模块号失败";  // the module number is not in its form
inline constexpr char16_t kM1AuthFailed[] = u"M1卡认证失败";
inline constexpr char16_t kM1ReadFailed[] = u"读M1卡失败";
inline constexpr char16_t kM1WriteFailed[] = u"写M1卡失败";
inline constexpr char16_t kBankCardFailed[] = u"读金融卡失败";
inline constexpr char16_t kNoCertTypeGetter[] = u"ORV_GetCertTypeU函数找不到";  // the record's stand-in

// Replies of the command protocol itself.
inline constexpr char16_t kWaitExpired[] = u"读卡失败";  // the waiting read's time-out passed
inline constexpr char16_t kNoSamQuery[] = u"设备无法获取安全模块号";
inline constexpr char16_t kNoSuchFunction[] = u"设备无此功能";
inline constexpr char16_t kBadParameters[] = u"输入参数有误";

// Status-log lines of the posted status codes.
inline constexpr char16_t kLogReadOk[] = u"读卡成功";
inline constexpr char16_t kLogAuthFailed[] = u"卡认证失败";
inline constexpr char16_t kLogNoDevice[] = u"设备无法连接，请拔插一下设备";
inline constexpr char16_t kLogReadFailed[] = u"读卡失败";
inline constexpr char16_t kLogUnknownError[] = u"未知错误:";  // followed by the code in decimal
inline constexpr char16_t kLogHostCrashed[] = u"读卡组件意外退出，已重新启动";
inline constexpr char16_t kLogHostHung[] = u"读卡组件无响应，已重新启动";
inline constexpr char16_t kLogHostFailing[] = u"读卡组件无法启动，稍后自动重试";

}  // namespace kavenor::texts
