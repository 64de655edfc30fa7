#!/usr/bin/env python3
"""Generates the LALR(1) tables of the dBASE expression parser.

Writes src/expressions/parser_tables.inc, which is committed so that the
build never needs Python. Run it again after changing the grammar below:

    python3 tools/gen_expr_parser.py > src/expressions/parser_tables.inc

The grammar is ambiguous in its binary operators; conflicts are settled by
the precedence and left associativity of the operators (as yacc does), and
the unary operators bind tighter than every binary one. Each rule carries an
action kind and parameters that the C++ driver interprets.
"""

import sys

# --------------------------------------------------------------- tokens ----

END = 0
T_CFIELD, T_NFIELD, T_LFIELD, T_DFIELD, T_MFIELD = 321, 322, 323, 324, 325
T_QCFIELD, T_QNFIELD, T_QLFIELD, T_QDFIELD, T_QMFIELD = 326, 327, 328, 329, 330
T_STRING, T_NUMBER, T_NAME = 331, 332, 336
T_FALSE, T_TRUE, T_NOT, T_OR, T_AND = 337, 338, 339, 340, 341
T_NE, T_LE, T_GE, T_EQEQ, T_DOLLAR = 342, 343, 344, 345, 346
PLUS, MINUS, STAR, SLASH, CARET = 43, 45, 42, 47, 94
LPAREN, RPAREN, COMMA, EQ, LT, GT = 40, 41, 44, 61, 60, 62

# Binary operators from the least binding level to the most binding.
PRECEDENCE = [
    [T_OR],
    [T_AND],
    [EQ, T_NE],
    [T_DOLLAR, T_EQEQ],
    [LT, GT, T_LE, T_GE],
    [PLUS, MINUS],
    [STAR, SLASH],
    [CARET],
]
UNARY_LEVEL = len(PRECEDENCE)

# Functions: token code and the accepted argument counts.
FUNCTIONS = {
    257: [1],        # ABS
    259: [1],        # ASC
    261: [2],        # AT
    264: [1],        # CDOW
    266: [1],        # CHR
    267: [1],        # CMONTH
    269: [1],        # CTOD
    270: [0],        # DATE
    271: [1],        # DAY
    272: [0],        # DELETED
    274: [1],        # DOW
    275: [1],        # DTOC
    277: [1],        # DTOS
    283: [3],        # IIF
    284: [1],        # INT
    288: [2],        # LEFT
    289: [1],        # LEN
    292: [1],        # LOWER
    293: [1],        # LTRIM
    294: [2],        # MAX
    295: [2],        # MIN
    296: [2],        # MOD
    297: [1],        # MONTH
    300: [0],        # RECNO
    301: [2],        # REPLICATE
    302: [2],        # RIGHT
    303: [2],        # ROUND
    305: [1],        # RTRIM
    308: [1],        # SOUNDEX
    310: [1],        # SPACE
    311: [1, 2, 3],  # STR
    312: [4],        # STUFF
    313: [3],        # SUBSTR
    316: [1],        # TRIM
    318: [1],        # UPPER
    319: [1],        # VAL
    320: [1],        # YEAR
}

# Action kinds (mirrored by enum RuleAction in parser.cpp).
A_NONE, A_START, A_BINARY, A_NOT, A_PLUS, A_MINUS, A_PAREN = 0, 1, 2, 3, 4, 5, 6
A_NUMBER, A_STRING, A_TRUE, A_FALSE, A_FIELD, A_FUNCTION = 7, 8, 9, 10, 11, 12

ACCEPT, START, EXPR = "$accept", "start", "expr"
NONTERMINALS = [ACCEPT, START, EXPR]


def build_rules():
    """Rules as (lhs, rhs tuple, action, token, argc, precedence level)."""
    rules = [(ACCEPT, (START,), A_NONE, 0, 0, None),
             (START, (EXPR,), A_START, 0, 0, None)]
    for level, ops in enumerate(PRECEDENCE):
        for op in ops:
            rules.append((EXPR, (EXPR, op, EXPR), A_BINARY, op, 2, level))
    rules.append((EXPR, (T_NOT, EXPR), A_NOT, T_NOT, 1, UNARY_LEVEL))
    rules.append((EXPR, (PLUS, EXPR), A_PLUS, PLUS, 1, UNARY_LEVEL))
    rules.append((EXPR, (MINUS, EXPR), A_MINUS, MINUS, 1, UNARY_LEVEL))
    rules.append((EXPR, (LPAREN, EXPR, RPAREN), A_PAREN, 0, 0, None))
    rules.append((EXPR, (T_NUMBER,), A_NUMBER, T_NUMBER, 0, None))
    rules.append((EXPR, (T_STRING,), A_STRING, T_STRING, 0, None))
    rules.append((EXPR, (T_TRUE,), A_TRUE, T_TRUE, 0, None))
    rules.append((EXPR, (T_FALSE,), A_FALSE, T_FALSE, 0, None))
    for field in range(T_CFIELD, T_QMFIELD + 1):
        rules.append((EXPR, (field,), A_FIELD, field, 0, None))
    for code in sorted(FUNCTIONS):
        for argc in FUNCTIONS[code]:
            rhs = [code, LPAREN]
            for i in range(argc):
                if i:
                    rhs.append(COMMA)
                rhs.append(EXPR)
            rhs.append(RPAREN)
            rules.append((EXPR, tuple(rhs), A_FUNCTION, code, argc, None))
    return rules


def token_level(token):
    for level, ops in enumerate(PRECEDENCE):
        if token in ops:
            return level
    return None


class Generator:
    def __init__(self, rules):
        self.rules = rules
        self.by_lhs = {}
        for index, rule in enumerate(rules):
            self.by_lhs.setdefault(rule[0], []).append(index)
        self.first = {nt: set() for nt in NONTERMINALS}
        changed = True
        while changed:  # no rule derives the empty string
            changed = False
            for lhs, rhs, *_ in rules:
                head = rhs[0]
                add = self.first[head] if head in self.first else {head}
                if not add <= self.first[lhs]:
                    self.first[lhs] |= add
                    changed = True

    def first_of(self, symbols, lookahead):
        if not symbols:
            return {lookahead}
        head = symbols[0]
        return set(self.first[head]) if head in self.first else {head}

    def closure(self, items):
        """items: set of (rule, dot, lookahead)."""
        result = set(items)
        work = list(items)
        while work:
            rule, dot, look = work.pop()
            rhs = self.rules[rule][1]
            if dot < len(rhs) and rhs[dot] in self.by_lhs:
                for follow in self.first_of(rhs[dot + 1:], look):
                    for sub in self.by_lhs[rhs[dot]]:
                        item = (sub, 0, follow)
                        if item not in result:
                            result.add(item)
                            work.append(item)
        return frozenset(result)

    def goto(self, items, symbol):
        moved = set()
        for rule, dot, look in items:
            rhs = self.rules[rule][1]
            if dot < len(rhs) and rhs[dot] == symbol:
                moved.add((rule, dot + 1, look))
        return self.closure(moved) if moved else None

    def build(self):
        """Canonical LR(1) collection merged by core into LALR(1) states."""
        start = self.closure({(0, 0, END)})
        core = lambda items: frozenset((r, d) for r, d, _ in items)
        states = [set(start)]
        core_index = {core(start): 0}
        transitions = {}
        work = [0]
        while work:
            index = work.pop()
            items = frozenset(states[index])
            symbols = []
            for rule, dot, _ in items:
                rhs = self.rules[rule][1]
                if dot < len(rhs) and rhs[dot] not in symbols:
                    symbols.append(rhs[dot])
            for symbol in symbols:
                target = self.goto(items, symbol)
                key = core(target)
                if key not in core_index:
                    core_index[key] = len(states)
                    states.append(set(target))
                    work.append(core_index[key])
                else:
                    existing = states[core_index[key]]
                    if not target <= existing:
                        existing |= target
                        work.append(core_index[key])
                transitions[(index, symbol)] = core_index[key]
        self.states = states
        self.transitions = transitions

    def tables(self):
        actions = []   # per state: dict token -> ('s', state) | ('r', rule) | ('a',)
        for index, items in enumerate(self.states):
            table = {}
            for (state, symbol), target in self.transitions.items():
                if state == index and symbol not in self.by_lhs:
                    table[symbol] = ("s", target)
            for rule, dot, look in items:
                rhs = self.rules[rule][1]
                if dot != len(rhs):
                    continue
                if rule == 0:
                    table[END] = ("a",)
                    continue
                present = table.get(look)
                if present is None:
                    table[look] = ("r", rule)
                elif present[0] == "r":
                    if present[1] != rule:
                        sys.exit("reduce/reduce conflict in state %d" % index)
                else:
                    rule_level = self.rules[rule][5]
                    tok_level = token_level(look)
                    if rule_level is None or tok_level is None:
                        sys.exit("unresolved shift/reduce conflict in state %d on %d"
                                 % (index, look))
                    # Equal levels reduce: every binary operator is left
                    # associative.
                    if rule_level >= tok_level:
                        table[look] = ("r", rule)
            actions.append(table)
        return actions


def main():
    rules = build_rules()
    gen = Generator(rules)
    gen.build()
    actions = gen.tables()
    nt_index = {nt: i for i, nt in enumerate(NONTERMINALS)}

    out = []
    w = out.append
    w("// Generated by tools/gen_expr_parser.py: LALR(1) tables of the expression")
    w("// grammar. Do not edit; run the generator again after changing the grammar.")
    w("// Per state: shift and reduce entries sorted by descending token code, then")
    w("// a default reduction used for every other token (-1 when the state has")
    w("// none, so that other tokens are errors).")
    w("")
    w("constexpr int kStateCount = %d;" % len(gen.states))
    w("constexpr int kRuleCount = %d;" % len(rules))
    w("constexpr int kAcceptAction = 0x7fff;")
    w("")
    w("// Action value: > 0 shift to state value - 1; < 0 reduce rule -value;")
    w("// kAcceptAction accepts.")
    w("struct ActionEntry {")
    w("  short token;")
    w("  short action;")
    w("};")
    w("")
    entries = []
    offsets = [0]
    defaults = []
    accept_state = -1
    for index, table in enumerate(actions):
        reduces = {}
        for token, act in table.items():
            if act[0] == "r":
                reduces[act[1]] = reduces.get(act[1], 0) + 1
        default = -1
        if reduces:
            default = max(sorted(reduces), key=lambda r: reduces[r])
        state_entries = []
        for token in sorted(table, reverse=True):
            act = table[token]
            if act[0] == "s":
                state_entries.append((token, act[1] + 1))
            elif act[0] == "a":
                state_entries.append((token, "kAcceptAction"))
                accept_state = index
            elif act[1] != default:
                state_entries.append((token, -act[1]))
        entries.extend(state_entries)
        offsets.append(len(entries))
        defaults.append(default)
    w("constexpr ActionEntry kActions[] = {")
    for i in range(0, len(entries), 6):
        w("    " + " ".join("{%d, %s}," % e for e in entries[i:i + 6]))
    w("};")
    w("")
    w("// kActions[kActionStart[s] .. kActionStart[s + 1]) belong to state s.")
    w("constexpr short kActionStart[] = {")
    for i in range(0, len(offsets), 12):
        w("    " + " ".join("%d," % v for v in offsets[i:i + 12]))
    w("};")
    w("")
    w("constexpr short kDefaultReduction[] = {")
    for i in range(0, len(defaults), 12):
        w("    " + " ".join("%d," % v for v in defaults[i:i + 12]))
    w("};")
    w("")
    w("// The state after a complete expression: the only token it accepts is")
    w("// the end of the text.")
    w("constexpr int kAcceptState = %d;" % accept_state)
    w("")
    w("// Goto per state and left-hand side (%s); -1 where none."
      % ", ".join(NONTERMINALS))
    w("constexpr short kGoto[][%d] = {" % len(NONTERMINALS))
    for index in range(len(gen.states)):
        row = [gen.transitions.get((index, nt), -1) for nt in NONTERMINALS]
        w("    {%s}," % ", ".join(str(v) for v in row))
    w("};")
    w("")
    w("struct RuleEntry {")
    w("  unsigned char lhs;     // index of the left-hand side")
    w("  unsigned char length;  // symbols on the right-hand side")
    w("  unsigned char action;  // RuleAction")
    w("  unsigned char argc;    // arguments of a function or operator")
    w("  short token;           // operator, literal, field or function token")
    w("};")
    w("")
    w("constexpr RuleEntry kRules[] = {")
    for lhs, rhs, action, token, argc, _ in rules:
        w("    {%d, %d, %d, %d, %d}," % (nt_index[lhs], len(rhs), action, argc, token))
    w("};")
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
