#!/usr/bin/env python3
"""Writes a large, deterministic C program shaped like an application code
base: record types with accessors, parsers with switch statements, hash
tables, sorting and searching, state machines, checksum and formatting
helpers, each module calling into earlier ones and into the C library.

usage: gen_program.py OUT_DIR [MODULES]   (default 90 modules)
Each module becomes one .c file; main.c calls every module's entry point.
"""
import os
import random
import sys

FIELDS = ["id", "flags", "count", "offset", "length", "weight", "score", "limit", "owner", "kind"]
WORDS = ["alpha", "bravo", "cache", "delta", "entry", "frame", "group", "house", "index", "joint",
         "kernel", "ledger", "match", "node", "order", "packet", "query", "range", "state", "token",
         "unit", "value", "window", "xref", "yield", "zone"]

PRELUDE = """#include <stddef.h>
extern void *malloc(unsigned long);
extern void free(void *);
extern void *memcpy(void *, const void *, unsigned long);
extern void *memset(void *, int, unsigned long);
extern int strcmp(const char *, const char *);
extern unsigned long strlen(const char *);
extern int printf(const char *, ...);
extern int snprintf(char *, unsigned long, const char *, ...);
"""


class Module:
    def __init__(self, rng, index, earlier):
        self.rng = rng
        self.index = index
        self.earlier = earlier  # entry points of earlier modules
        self.name = "m%03d" % index
        self.functions = []
        self.out = []

    def w(self, text):
        self.out.append(text)

    def ident(self, what):
        return "%s_%s_%s_%d" % (self.name, self.rng.choice(WORDS), what, len(self.functions))

    def record(self):
        fields = self.rng.sample(FIELDS, self.rng.randint(4, 8))
        self.fields = fields
        self.w("struct %s_rec {\n%s    const char *label;\n    struct %s_rec *next;\n};\n" % (
            self.name, "".join("    int %s;\n" % f for f in fields), self.name))
        n = self.rng.randint(8, 24)
        rows = []
        for i in range(n):
            vals = ", ".join(str(self.rng.randint(-500, 5000)) for _ in fields)
            rows.append("    {%s, \"%s-%s-%d\", 0}" % (vals, self.name, self.rng.choice(WORDS), i))
        self.w("static struct %s_rec %s_table[%d] = {\n%s\n};\n" % (self.name, self.name, n,
                                                                     ",\n".join(rows)))
        self.w("static int %s_state;\nint %s_counter;\nstatic const char *%s_names[] = {%s};\n" % (
            self.name, self.name, self.name,
            ", ".join("\"%s\"" % self.rng.choice(WORDS) for _ in range(self.rng.randint(4, 12)))))
        self.table_size = n

    def callee(self):
        callable_ = [f for f in self.functions if "_parse_" not in f and "_format_" not in f]
        if callable_ and self.rng.random() < 0.7:
            return self.rng.choice(callable_)
        if self.earlier and self.rng.random() < 0.6:
            return self.rng.choice(self.earlier)
        return None

    def call_expr(self, arg):
        f = self.callee()
        return "%s(%s)" % (f, arg) if f else "(%s) * 3" % arg

    def fn_accessor(self):
        f = self.ident("get")
        field = self.rng.choice(self.fields)
        self.w("""int %s(int i) {
    const struct %s_rec *r = &%s_table[(unsigned)i %% %d];
    if (r->%s > %d) {
        return r->%s - %s;
    }
    return r->%s + %s_state;
}
""" % (f, self.name, self.name, self.table_size, field, self.rng.randint(0, 900), field,
       self.call_expr("i + %d" % self.rng.randint(1, 9)), field, self.name))
        return f

    def fn_parser(self):
        f = self.ident("parse")
        cases = []
        for c in self.rng.sample("abcdefghijklmnopqrstuvwxyz0123456789+-*/", self.rng.randint(5, 14)):
            action = self.rng.choice([
                "acc = acc * %d + %d;" % (self.rng.randint(2, 17), self.rng.randint(0, 99)),
                "acc ^= %s;" % self.call_expr("acc"),
                "%s_counter += %d;" % (self.name, self.rng.randint(1, 5)),
                "depth++;", "if (depth > 0) depth--;",
                "acc = acc >> %d;" % self.rng.randint(1, 5),
            ])
            cases.append("        case '%s': %s break;" % (c, action))
        self.w("""int %s(const char *text) {
    int acc = %d, depth = 0;
    for (const char *p = text; *p; ++p) {
        switch (*p) {
%s
        default: acc += *p; break;
        }
    }
    return acc + depth;
}
""" % (f, self.rng.randint(0, 50), "\n".join(cases)))
        return f

    def fn_hash(self):
        f = self.ident("hash")
        self.w("""unsigned %s(const char *key, unsigned seed) {
    unsigned h = seed ^ %du;
    unsigned long n = strlen(key);
    for (unsigned long i = 0; i < n; ++i) {
        h = (h ^ (unsigned char)key[i]) * %du;
        h ^= h >> %d;
    }
    return h %% %du;
}
""" % (f, self.rng.getrandbits(31), self.rng.choice([16777619, 2654435761, 40503, 3266489917]),
       self.rng.randint(7, 19), self.rng.randint(97, 65521)))
        self.hash = f
        return f

    def fn_sort(self):
        f = self.ident("sort")
        field = self.rng.choice(self.fields)
        self.w("""void %s(struct %s_rec *items, int n) {
    for (int i = 1; i < n; ++i) {
        struct %s_rec key = items[i];
        int j = i - 1;
        while (j >= 0 && items[j].%s > key.%s) {
            items[j + 1] = items[j];
            --j;
        }
        items[j + 1] = key;
    }
}
""" % (f, self.name, self.name, field, field))
        self.sort = f

    def fn_search(self):
        f = self.ident("find")
        field = self.rng.choice(self.fields)
        self.w("""int %s(int wanted) {
    int lo = 0, hi = %d - 1;
    while (lo <= hi) {
        int mid = (lo + hi) / 2;
        if (%s_table[mid].%s == wanted) {
            return mid;
        }
        if (%s_table[mid].%s < wanted) {
            lo = mid + 1;
        } else {
            hi = mid - 1;
        }
    }
    return %s;
}
""" % (f, self.table_size, self.name, field, self.name, field, self.call_expr("wanted")))
        return f

    def fn_machine(self):
        f = self.ident("step")
        states = self.rng.randint(4, 9)
        arms = []
        for s in range(states):
            nxt = self.rng.randrange(states)
            arms.append("    case %d:\n        if (input & %d) { %s_state = %d; return %s; }\n"
                        "        %s_state = %d;\n        return %d;" % (
                            s, 1 << self.rng.randint(0, 6), self.name, nxt,
                            self.call_expr("input"), self.name, self.rng.randrange(states),
                            self.rng.randint(0, 300)))
        self.w("""int %s(int input) {
    switch (%s_state) {
%s
    default:
        %s_state = 0;
        return -1;
    }
}
""" % (f, self.name, "\n".join(arms), self.name))
        return f

    def fn_format(self):
        f = self.ident("format")
        self.w("""int %s(char *out, unsigned long size, int i) {
    const struct %s_rec *r = &%s_table[(unsigned)i %% %d];
    int n = snprintf(out, size, "%%s:%%d/%%s", r->label, r->%s, %s_names[(unsigned)i %% %d]);
    if (n < 0 || (unsigned long)n >= size) {
        printf("%s: truncated record %%d\\n", i);
        return -1;
    }
    return n;
}
""" % (f, self.name, self.name, self.table_size, self.rng.choice(self.fields), self.name,
       len(self.out[-1]) % 3 + 1, f))
        return f

    def fn_list(self):
        f = self.ident("collect")
        self.w("""int %s(int limit) {
    struct %s_rec *head = 0;
    int total = 0;
    for (int i = 0; i < %d && i < limit; ++i) {
        struct %s_rec *copy = (struct %s_rec *)malloc(sizeof *copy);
        if (!copy) {
            break;
        }
        memcpy(copy, &%s_table[i], sizeof *copy);
        copy->next = head;
        head = copy;
    }
    %s(%s_table, %d);
    while (head) {
        struct %s_rec *next = head->next;
        total += head->%s + (int)%s(head->label, %du);
        free(head);
        head = next;
    }
    return total;
}
""" % (f, self.name, self.table_size, self.name, self.name, self.name, self.sort, self.name,
       self.table_size, self.name, self.rng.choice(self.fields), self.hash,
       self.rng.getrandbits(16)))
        return f

    def generate(self, functions):
        self.w(PRELUDE)
        self.record()
        self.fn_hash()
        self.fn_sort()
        makers = [self.fn_accessor, self.fn_parser, self.fn_search, self.fn_machine,
                  self.fn_format, self.fn_list, self.fn_accessor, self.fn_parser]
        for _ in range(functions):
            self.functions.append(self.rng.choice(makers)())
        entry = "%s_run" % self.name
        body = "\n".join("    acc += %s;" % self.call_for_entry(fn) for fn in self.functions)
        self.w("int %s(int seed) {\n    int acc = seed;\n    char buf[64];\n    (void)buf;\n%s\n"
               "    return acc;\n}\n" % (entry, body))
        return entry

    def call_for_entry(self, fn):
        if "_parse_" in fn:
            return "%s(%s_names[acc & 3])" % (fn, self.name)
        if "_format_" in fn:
            return "%s(buf, sizeof buf, acc)" % fn
        return "%s(acc)" % fn


def main():
    out_dir = sys.argv[1]
    modules = int(sys.argv[2]) if len(sys.argv) > 2 else 90
    rng = random.Random(20261211)
    os.makedirs(out_dir, exist_ok=True)
    entries = []
    for i in range(modules):
        m = Module(rng, i, entries[-6:])
        entry = m.generate(rng.randint(18, 30))
        with open(os.path.join(out_dir, "%s.c" % m.name), "w") as f:
            f.write("".join(m.out))
            # Earlier modules' entry points, called from this one.
            f.write("".join("int %s(int);\n" % e for e in entries[-6:]))
        entries.append(entry)
    with open(os.path.join(out_dir, "main.c"), "w") as f:
        f.write("extern int printf(const char *, ...);\n")
        f.write("".join("int %s(int);\n" % e for e in entries))
        f.write("int main(int argc, char **argv) {\n    (void)argv;\n    int acc = argc;\n")
        f.write("".join("    acc += %s(acc);\n" % e for e in entries))
        f.write("    printf(\"%d\\n\", acc);\n    return 0;\n}\n")


if __name__ == "__main__":
    main()
