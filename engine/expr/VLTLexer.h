// TVLTLexer: cuts a text (a dataset filter or an SQL script) into commands and tokens,
// recognises reserved words and binds parameters.
//
// The whole text is tokenized when the lexer is created; parsers then walk the tokens of one
// command at a time and may back-track (GetCurrentTokenNo / SetCurrentTokenNo).
//
// Lexical rules (outside quoted text):
//   ;                      ends a command; a command exists only once its first token starts
//   -- ... line feed       comment;  /* ... */ comment (may run to the end of the text)
//   blank tab CR LF        white space, ends the current token
//   ( ) , - + * / =        tokens on their own; also < <= <> > >= | ||
//   : ?                    start a token (a parameter: ":name", ":'quoted name'", "?")
//   .                      a token of its own, unless inside a number; ".5" is a number
//   'text'  "text"         quoted string, a doubled quote stands for one quote
//   `name`                 name (never a reserved word); "\" takes the next character literally
//   [name]                 bracketed name (never a reserved word)
//   digits                 integer; with "." or an exponent (E, E+, E-) a float; any other
//                          character inside a number is an error
// Lines and columns count from 1; a line feed starts a new line, a carriage return does not
// move the column.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/expr/VLTReservedWords.h"
#include "engine/expr/VLTVariant.h"

namespace vlt {

enum TTokenType : uint8_t {
  tktNone = 0,              // no token: past the end
  tktString = 1,            // a word, an operator symbol, or a back-quoted name
  tktQuotedString = 2,      // text in single or double quotes (without them)
  tktBracketedString = 3,   // text in square brackets (without them)
  tktInt = 4,
  tktFloat = 5,
  tktReservedWord = 6,
  tktParameter = 7,
  tktLeftParenthesis = 8,
  tktRightParenthesis = 9,
  tktComma = 10,
  tktDot = 11,
};

// A set of token kinds, one bit per TTokenType.
using TTokenTypes = uint16_t;
constexpr TTokenTypes TokenTypeSet(std::initializer_list<TTokenType> Types) {
  TTokenTypes S = 0;
  for (TTokenType T : Types) S = static_cast<TTokenTypes>(S | (1u << T));
  return S;
}

struct TToken {
  TTokenType TokenType = tktNone;
  TReservedWord ReservedWord = rwNone;
  std::string Text;                        // quoted/bracketed: the content; parameter: its name
  std::optional<TVLTVariant> ParamValue;   // parameters only: a copy of the parameter's value
  int32_t LineNum = 0;                     // where the token starts, from 1
  int32_t ColumnNum = 0;

  // The reserved word Word; rwNone matches any reserved word.
  bool IsReservedWord(TReservedWord Word) const {
    return TokenType == tktReservedWord && (Word == rwNone || ReservedWord == Word);
  }
};

struct TSQLCommand {
  std::vector<TToken> Tokens;
  int32_t CurrentTokenNo = 0;  // the read position; the first token is current at the start

  int32_t NumTokens() const { return static_cast<int32_t>(Tokens.size()); }
};

// Parameter values for a command: looked up by name (case-insensitive) for ":name" and by
// position for "?".
class TVLTSQLParams {
 public:
  void Add(std::string Name, TVLTVariant Value);
  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  const std::string& Name(int32_t Index) const { return FItems[static_cast<size_t>(Index)].Name; }
  const TVLTVariant& Value(int32_t Index) const { return FItems[static_cast<size_t>(Index)].Value; }
  // None when there is no parameter of that name.
  const TVLTVariant* Find(std::string_view Name) const;

 private:
  struct TItem {
    std::string Name;
    TVLTVariant Value;
  };
  std::vector<TItem> FItems;
};

class TVLTLexer {
 public:
  // Tokenizes SQLScript at once. Params may be none and is not kept. With NoParams, ":" and "?"
  // never start parameters. Raises 30059, 30060, 30061, 30062 for malformed text and 30358 for
  // a parameter without a value.
  TVLTLexer(std::string_view SQLScript, bool NoParams, const TVLTSQLParams* Params);

  int32_t NumCommands() const { return static_cast<int32_t>(FCommands.size()); }
  int32_t CurrentCommandNo() const { return FCurrentCommandNo; }
  const std::vector<TSQLCommand>& Commands() const { return FCommands; }
  const std::string& SQLScript() const { return FSQLScript; }

  // Moves to the next command; true while there is one.
  bool GetNextCommand();

  // The token at the read position of the current command; past the end Token gets tktNone
  // (and keeps its other fields) and the result is false.
  bool GetCurrentToken(TToken& Token) const;
  // The token after the current one, without moving; past the end tktNone, empty text, false.
  bool LookNextToken(TToken& Token) const;
  // LookNextToken, then moves the read position on by one (also past the end).
  bool GetNextToken(TToken& Token);
  int32_t GetCurrentTokenNo() const;
  // Moves the read position (back-tracking) and returns GetCurrentToken.
  bool SetCurrentTokenNo(int32_t TokenNo, TToken& Token);
  // Moves on token by token until one whose kind is in TokenTypes (true) or the end (false).
  bool GetNextSpecifiedToken(TToken& Token, TTokenTypes TokenTypes);

  // For code that builds token lists itself: append an empty command, or a token to the last
  // command (a command is added first when there is none).
  void AddCommand();
  void AddToken(const TToken& Token);

 private:
  const TSQLCommand* Current() const;
  TSQLCommand* Current();

  std::string FSQLScript;
  bool FNoParams;
  std::vector<TSQLCommand> FCommands;
  int32_t FCurrentCommandNo = -1;
};

}  // namespace vlt
