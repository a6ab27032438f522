// Where an error happened and why, for the user.
#include "data/error_context.h"

#include <cerrno>
#include <cstring>

#include "data/connection_string.h"
#include "data/error.h"
#include "data/text_util.h"

namespace vov {

std::string echo(const std::string& text, size_t maxChars) {
  // Bytes bound characters from above: a short text needs no counting.
  if (text.size() <= maxChars) return text;
  std::string cut = utf8Prefix(text, maxChars);
  if (cut.size() == text.size()) return text;
  return cut + "…";
}

static std::string sideName(Side side) { return side == Side::Old ? "老数据库" : "新数据库"; }

static std::string shownSource(const std::string& connectionString) {
  return withoutPassword(dataSourceOf(connectionString));
}

std::string databaseLabel(Side side, const std::string& connectionString) {
  return sideName(side) + "“" + echo(shownSource(connectionString), 4 * kEchoChars) + "”";
}

void placeEngineError(Error& e, Side side, const std::string& connectionString,
                      const std::string& before, const std::string& after) {
  if (e.placed()) return;
  const std::string source = dataSourceOf(connectionString);
  const bool named = !source.empty() && e.message().find(source) != std::string::npos;
  std::string label = named ? sideName(side) : databaseLabel(side, connectionString);
  e.reword(echo(e.message(), kEngineTextChars));
  e.place(before + label + after + "出错");
}

std::string systemReason(int err) {
  switch (err) {
    case ENOSPC:
      return "磁盘已满";
    case EDQUOT:
      return "磁盘配额已用完";
    case EFBIG:
      return "文件超过了系统允许的大小";
    case EROFS:
      return "所在的文件系统只能读取";
    case EACCES:
    case EPERM:
      return "没有权限";
    case ENOENT:
      return "文件或文件夹不存在";
    case ENOTDIR:
      return "路径中有一部分不是文件夹";
    case EISDIR:
      return "这是一个文件夹";
    case ENAMETOOLONG:
      return "文件名太长";
    case EIO:
      return "读写磁盘时出错（输入/输出错误）";
    default:
      return std::strerror(err);
  }
}

}  // namespace vov
