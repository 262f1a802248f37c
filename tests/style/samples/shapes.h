// Shapes the length checker must read right, checked with --limit 3.
#pragma once
#define BRACES(a) { a }

namespace sample {

const int kTable[][2] = {  // a table: skipped, however long
    {1, 2},
    {3, 4},
    {5, 6},
};

inline int Literals() {  // braces in literals and comments do not count: 6 lines
    const char* text = "}}";
    const char* raw = R"x("}" )" {)x";
    char open = 1'0 > 0 ? '{' : 0;  /* } */
    return text[0] + raw[0] + open;  // }
}

class Holder : public Base {
  public:
    Holder(int a)  // the body after the members' braces: 5 lines
        : a_{a}, b_(a) {
        Use(a_);
        Use(b_);
    }
    int Short() const noexcept { return a_; }

  private:
    struct Inner {  // entered after the label
        void Long() {
            Use(1);
            Use(2);
        }
    };
    std::function<void(int)> onChange_{[](int) {
        Use(1);
        Use(2);
    }};
    int a_{0};
    int b_;
};

const auto kTwice = [](int x) {  // a lambda held by a variable is a function of its own
    Use(x);
    return x + x;
};

template <typename T,
          typename U = T>
auto WithLambda(T t) -> U {  // from the template line, the lambda inside: 8 lines
    auto twice = [&] {
        return t + t;
    };
    return twice();
}

bool operator==(const Holder& a, const Holder& b) {
    return a.Short() ==
           b.Short();
}

}  // namespace sample
