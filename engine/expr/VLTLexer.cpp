#include "engine/expr/VLTLexer.h"

#include "engine/base/VLTExcept.h"
#include "engine/base/VLTTypes.h"

namespace vlt {

namespace {

constexpr int32_t kErrMissingParenthesis = 30059;
constexpr int32_t kErrUnexpectedParenthesis = 30060;
constexpr int32_t kErrUnterminatedString = 30061;
constexpr int32_t kErrInvalidNumericSymbol = 30062;
constexpr int32_t kErrParamNotFound = 30358;

bool IsWhite(char C) { return C == ' ' || C == '\t' || C == '\r' || C == '\n'; }
bool IsDigit(char C) { return C >= '0' && C <= '9'; }
// Characters that end the current token and start one of their own.
bool IsDelimiter(char C) {
  switch (C) {
    case '>': case '<': case '=': case '(': case ')': case ',': case '/': case '*': case ':':
    case '?': case '|':
      return true;
    default:
      return false;
  }
}

struct TPosition {
  int32_t Line = 1;
  int32_t Column = 1;
};

// One pass over the text, building the commands.
class TTokenizer {
 public:
  TTokenizer(std::string_view Text, bool NoParams, const TVLTSQLParams* Params,
             std::vector<TSQLCommand>& Commands)
      : FText(Text), FNoParams(NoParams), FParams(Params), FCommands(Commands) {}

  void Run();

 private:
  char At(size_t I) const { return I < FText.size() ? FText[I] : '\0'; }
  // Consumes one character, keeping line and column.
  void Advance() {
    char C = FText[FPos++];
    if (C == '\n') {
      ++FWhere.Line;
      FWhere.Column = 1;
    } else if (C != '\r') {
      ++FWhere.Column;
    }
  }

  void StartToken(TTokenType Type, TPosition Where) {
    if (!FCommandOpen) {
      FCommands.emplace_back();
      FCommandOpen = true;
    }
    FToken = TToken();
    FToken.TokenType = Type;
    FToken.LineNum = Where.Line;
    FToken.ColumnNum = Where.Column;
    FInToken = true;
    FMayBeKeyword = true;
  }
  void FinishToken();
  void EndCommand();
  // Reads quoted text starting at the opening delimiter; returns the content.
  std::string ReadQuoted(char Open);
  void BindParameter();

  std::string_view FText;
  bool FNoParams;
  const TVLTSQLParams* FParams;
  std::vector<TSQLCommand>& FCommands;

  size_t FPos = 0;
  TPosition FWhere;
  bool FCommandOpen = false;
  bool FInToken = false;
  bool FMayBeKeyword = true;  // false for back-quoted names
  TToken FToken;
  std::vector<TPosition> FOpenParentheses;  // of the current command, innermost last
  int32_t FQuestionMarks = 0;               // "?" parameters seen so far
};

void TTokenizer::Run() {
  while (FPos < FText.size()) {
    const char C = FText[FPos];
    const TPosition Where = FWhere;

    if (C == ';') {
      EndCommand();
      Advance();
      continue;
    }
    if (C == '-' && At(FPos + 1) == '-') {
      FinishToken();
      while (FPos < FText.size() && FText[FPos] != '\n') Advance();
      continue;
    }
    if (C == '/' && At(FPos + 1) == '*') {
      FinishToken();
      Advance();
      Advance();
      while (FPos < FText.size() && !(FText[FPos] == '*' && At(FPos + 1) == '/')) Advance();
      if (FPos < FText.size()) {
        Advance();
        Advance();
      }
      continue;
    }
    if (IsWhite(C)) {
      FinishToken();
      Advance();
      continue;
    }

    if (FInToken) {
      bool Continues;
      const bool InNumber = FToken.TokenType == tktInt;
      if (IsDelimiter(C)) {
        Continues = false;
      } else if (C == '.') {
        Continues = InNumber;
      } else if (C == '+' || C == '-') {
        char Last = FToken.Text.empty() ? '\0' : FToken.Text.back();
        Continues = InNumber && (Last == 'E' || Last == 'e');
      } else if (FToken.TokenType == tktDot) {
        // A digit right after "." makes a number (".5"); anything else starts a new token.
        Continues = IsDigit(C);
        if (Continues) FToken.TokenType = tktInt;
      } else if (InNumber) {
        if (!(IsDigit(C) || C == 'E' || C == 'e'))
          throw EVLTException(kErrInvalidNumericSymbol,
                              "Invalid numeric symbol '%s' at line %d, column %d",
                              {std::string(1, C), int64_t{Where.Line}, int64_t{Where.Column}});
        Continues = true;
      } else {
        Continues = true;
      }
      if (Continues) {
        FToken.Text.push_back(C);
        Advance();
        continue;
      }
      FinishToken();
    }

    // Start a token with C.
    switch (C) {
      case '\'':
      case '"':
        StartToken(tktQuotedString, Where);
        FToken.Text = ReadQuoted(C);
        FinishToken();
        continue;
      case '`':
        StartToken(tktString, Where);
        FToken.Text = ReadQuoted(C);
        FMayBeKeyword = false;
        FinishToken();
        continue;
      case '[':
        StartToken(tktBracketedString, Where);
        FToken.Text = ReadQuoted(C);
        FinishToken();
        continue;
      case ':': {
        char Next = At(FPos + 1);
        if (Next == '\'' || Next == '"' || Next == '`' || Next == '[') {
          StartToken(tktString, Where);
          Advance();
          FToken.Text.assign(1, ':');
          FToken.Text += ReadQuoted(Next);
          FinishToken();
          continue;
        }
        StartToken(tktString, Where);
        FToken.Text.assign(1, ':');
        Advance();
        continue;
      }
      case '(':
        StartToken(tktLeftParenthesis, Where);
        FToken.Text.assign(1, '(');
        FOpenParentheses.push_back(Where);
        Advance();
        FinishToken();
        continue;
      case ')':
        if (FOpenParentheses.empty())
          throw EVLTException(kErrUnexpectedParenthesis,
                              "Unexpected symbol ')' found at line %d, column %d",
                              {int64_t{Where.Line}, int64_t{Where.Column}});
        FOpenParentheses.pop_back();
        StartToken(tktRightParenthesis, Where);
        FToken.Text.assign(1, ')');
        Advance();
        FinishToken();
        continue;
      case ',':
        StartToken(tktComma, Where);
        FToken.Text.assign(1, ',');
        Advance();
        FinishToken();
        continue;
      case '.':
        StartToken(tktDot, Where);
        FToken.Text.assign(1, '.');
        Advance();
        continue;  // may still become a number
      case '-':
      case '+':
      case '*':
      case '/':
      case '=':
        StartToken(tktString, Where);
        FToken.Text = std::string(1, C);
        Advance();
        FinishToken();
        continue;
      case '|':
      case '<':
      case '>': {
        // Comparison and concatenation operators are complete tokens, so "a<5" is a, <, 5.
        StartToken(tktString, Where);
        FToken.Text = std::string(1, C);
        Advance();
        char Next = At(FPos);
        if ((C == '|' && Next == '|') || (C == '<' && (Next == '=' || Next == '>')) ||
            (C == '>' && Next == '=')) {
          FToken.Text.push_back(Next);
          Advance();
        }
        FinishToken();
        continue;
      }
      default:
        StartToken(IsDigit(C) ? tktInt : tktString, Where);
        FToken.Text = std::string(1, C);
        Advance();
        continue;
    }
  }
  EndCommand();
}

std::string TTokenizer::ReadQuoted(char Open) {
  const TPosition Start = FWhere;
  const char Close = Open == '[' ? ']' : Open;
  std::string Content;
  Advance();  // the opening delimiter
  while (true) {
    if (FPos >= FText.size())
      throw EVLTException(kErrUnterminatedString, "Unterminated string at line %d, column %d",
                          {int64_t{Start.Line}, int64_t{Start.Column}});
    char C = FText[FPos];
    if (Open == '`' && C == '\\' && FPos + 1 < FText.size()) {
      Advance();
      Content.push_back(FText[FPos]);
      Advance();
      continue;
    }
    if (C == Close) {
      if (Open != '[' && At(FPos + 1) == Close) {  // a doubled quote is one quote
        Content.push_back(C);
        Advance();
        Advance();
        continue;
      }
      Advance();
      return Content;
    }
    Content.push_back(C);
    Advance();
  }
}

void TTokenizer::FinishToken() {
  if (!FInToken) return;
  FInToken = false;
  if (FToken.TokenType == tktInt) {
    if (FToken.Text.find_first_of(".eE") != std::string::npos) FToken.TokenType = tktFloat;
  } else if (FToken.TokenType == tktString && FMayBeKeyword) {
    char First = FToken.Text.empty() ? '\0' : FToken.Text.front();
    if ((First == ':' || First == '?') && !FNoParams) {
      BindParameter();
    } else {
      TReservedWord W = FindReservedWord(FToken.Text);
      if (W != rwNone) {
        FToken.TokenType = tktReservedWord;
        FToken.ReservedWord = W;
      }
    }
  }
  FCommands.back().Tokens.push_back(std::move(FToken));
  FToken = TToken();
}

void TTokenizer::BindParameter() {
  std::string Name;
  const TVLTVariant* Value = nullptr;
  if (FToken.Text.front() == '?') {
    ++FQuestionMarks;
    Name = "Param";
    Name += std::to_string(FQuestionMarks);
    if (FParams && FQuestionMarks <= FParams->Count()) Value = &FParams->Value(FQuestionMarks - 1);
  } else {
    Name = FToken.Text.substr(1);
    if (FParams) Value = FParams->Find(Name);
  }
  if (!Value) throw EVLTException(kErrParamNotFound, "Value for parameter '%s' not found", {Name});
  FToken.TokenType = tktParameter;
  FToken.Text = std::move(Name);
  FToken.ParamValue = *Value;
}

void TTokenizer::EndCommand() {
  FinishToken();
  if (!FOpenParentheses.empty()) {
    // The innermost parenthesis that was never closed.
    TPosition P = FOpenParentheses.back();
    throw EVLTException(kErrMissingParenthesis, "Missing symbol ')' at line %d, column %d",
                        {int64_t{P.Line}, int64_t{P.Column}});
  }
  FCommandOpen = false;
}

}  // namespace

// ---- parameters ----

void TVLTSQLParams::Add(std::string Name, TVLTVariant Value) {
  FItems.push_back({std::move(Name), std::move(Value)});
}

const TVLTVariant* TVLTSQLParams::Find(std::string_view Name) const {
  for (const TItem& I : FItems)
    if (SameText(I.Name, Name)) return &I.Value;
  return nullptr;
}

// ---- lexer ----

TVLTLexer::TVLTLexer(std::string_view SQLScript, bool NoParams, const TVLTSQLParams* Params)
    : FSQLScript(SQLScript), FNoParams(NoParams) {
  TTokenizer(FSQLScript, FNoParams, Params, FCommands).Run();
}

bool TVLTLexer::GetNextCommand() {
  if (FCurrentCommandNo < NumCommands()) ++FCurrentCommandNo;
  return FCurrentCommandNo < NumCommands();
}

const TSQLCommand* TVLTLexer::Current() const {
  if (FCurrentCommandNo < 0 || FCurrentCommandNo >= NumCommands()) return nullptr;
  return &FCommands[static_cast<size_t>(FCurrentCommandNo)];
}

TSQLCommand* TVLTLexer::Current() {
  if (FCurrentCommandNo < 0 || FCurrentCommandNo >= NumCommands()) return nullptr;
  return &FCommands[static_cast<size_t>(FCurrentCommandNo)];
}

bool TVLTLexer::GetCurrentToken(TToken& Token) const {
  const TSQLCommand* C = Current();
  if (!C || C->CurrentTokenNo < 0 || C->CurrentTokenNo >= C->NumTokens()) {
    Token.TokenType = tktNone;
    return false;
  }
  Token = C->Tokens[static_cast<size_t>(C->CurrentTokenNo)];
  return true;
}

bool TVLTLexer::LookNextToken(TToken& Token) const {
  const TSQLCommand* C = Current();
  if (!C || C->CurrentTokenNo + 1 < 0 || C->CurrentTokenNo + 1 >= C->NumTokens()) {
    Token.TokenType = tktNone;
    Token.Text.clear();
    return false;
  }
  Token = C->Tokens[static_cast<size_t>(C->CurrentTokenNo + 1)];
  return true;
}

bool TVLTLexer::GetNextToken(TToken& Token) {
  bool Found = LookNextToken(Token);
  if (TSQLCommand* C = Current(); C && C->CurrentTokenNo <= C->NumTokens()) ++C->CurrentTokenNo;
  return Found;
}

int32_t TVLTLexer::GetCurrentTokenNo() const {
  const TSQLCommand* C = Current();
  return C ? C->CurrentTokenNo : 0;
}

bool TVLTLexer::SetCurrentTokenNo(int32_t TokenNo, TToken& Token) {
  if (TSQLCommand* C = Current()) C->CurrentTokenNo = TokenNo;
  return GetCurrentToken(Token);
}

bool TVLTLexer::GetNextSpecifiedToken(TToken& Token, TTokenTypes TokenTypes) {
  while (GetNextToken(Token))
    if (TokenTypes & (1u << Token.TokenType)) return true;
  return false;
}

void TVLTLexer::AddCommand() { FCommands.emplace_back(); }

void TVLTLexer::AddToken(const TToken& Token) {
  if (FCommands.empty()) AddCommand();
  FCommands.back().Tokens.push_back(Token);
}

}  // namespace vlt
