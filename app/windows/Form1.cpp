// The program's window on Windows, drawn with the system's own window and GDI calls: the layout of
// app/FormLayout.h, painted whole into an off-screen bitmap and copied, so that nothing flickers.
#include <windows.h>

#include <string>

#include "app/FormLayout.h"
#include "app/MainSequence.h"
#include "app/Window.h"

namespace quom {

namespace {

constexpr const wchar_t* kClassName = L"quomForm1";
constexpr int kIconResource = 1;  // resources/quom.rc
// A fixed-size window with a single-line border and the close button only.
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;

int Px(int twips) {
  return TwipsToPixels(twips);
}

COLORREF Colour(Rgb c) {
  return RGB(c.r, c.g, c.b);
}

std::wstring Wide(const std::string& utf8) {
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

HFONT MakeFont(int px, int weight) {
  return CreateFontW(-px, 0, 0, 0, weight, FALSE, FALSE, FALSE, kFontCharset, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, L"Courier New");
}

struct Label {
  const LabelLayout& layout;
  std::wstring caption;
  COLORREF text;
  RECT Rect() const {
    return {Px(layout.left), Px(layout.top), Px(layout.left + layout.width),
            Px(layout.top + layout.height)};
  }
};

class Form1 : public Front, private ProgressView {
 public:
  explicit Form1(modDS& ds) : ds_(ds) {}
  ~Form1() override {
    if (hwnd_) DestroyWindow(hwnd_);
    DeleteObject(font_);
    DeleteObject(titleFont_);
  }
  Form1(const Form1&) = delete;
  Form1& operator=(const Form1&) = delete;

  // Creates the window, hidden. False when the system has no window to give.
  bool Create();

  // Front
  void Show() override {
    ShowWindow(hwnd_, SW_SHOW);
    UpdateWindow(hwnd_);
  }
  ProgressSink& Progress() override { return progress_; }
  void ProcessEvents() override;
  void SetTitleGreen(int16_t G) override {
    labQuom_.text = RGB(0, G, 0);
    Invalidate(labQuom_.Rect());
  }

 private:
  // ProgressView: the three progress widgets.
  void SetBar(int32_t twips) override {
    // A shape always shows its one-pixel outline, however narrow.
    const int width = TwipsToPixels(twips);
    barWidth_ = width < 1 ? 1 : width;
    Invalidate({0, 0, Px(kClientTwipsW), Px(kClientTwipsH)});
  }
  void SetPercent(const std::string& text) override { SetCaption(labProgress_, text); }
  void SetTime(const std::string& text) override { SetCaption(labTime_, text); }

  void SetCaption(Label& label, const std::string& text) {
    label.caption = Wide(text);
    Invalidate(label.Rect());
  }
  void Invalidate(RECT r) { InvalidateRect(hwnd_, &r, FALSE); }
  void Paint(HDC dc);
  void DrawLabel(HDC dc, const Label& label);
  [[noreturn]] void Unload() { FormQueryUnload(ds_); }
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM w, LPARAM l);

  modDS& ds_;
  HWND hwnd_ = nullptr;
  HFONT font_ = MakeFont(kFontPx, FW_NORMAL);
  HFONT titleFont_ = MakeFont(kTitleFontPx, FW_BOLD);
  // In their exposure order.
  Label labQuom_{kLabQuom, Wide(kLabQuom.caption), Colour(kLabQuom.text)};
  Label labTime_{kLabTime, Wide(kLabTime.caption), Colour(kLabTime.text)};
  Label labProgress_{kLabProgress, Wide(kLabProgress.caption), Colour(kLabProgress.text)};
  Label label1_{kLabel1, Wide(kLabel1.caption), Colour(kLabel1.text)};
  int barWidth_ = Px(kBarWidth);
  ProgressDisplay progress_{*this};
};

bool Form1::Create() {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hIcon = static_cast<HICON>(
      LoadImageW(instance, MAKEINTRESOURCEW(kIconResource), IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR));
  wc.hIconSm = static_cast<HICON>(
      LoadImageW(instance, MAKEINTRESOURCEW(kIconResource), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
  wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // the arrow
  wc.lpszClassName = kClassName;
  if (!RegisterClassExW(&wc)) return false;

  RECT frame = {0, 0, Px(kClientTwipsW), Px(kClientTwipsH)};
  AdjustWindowRectEx(&frame, kStyle, FALSE, 0);
  const int w = frame.right - frame.left;
  const int h = frame.bottom - frame.top;
  RECT work;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  hwnd_ = CreateWindowExW(0, kClassName, Wide(kFormCaption).c_str(), kStyle,
                          work.left + (work.right - work.left - w) / 2,
                          work.top + (work.bottom - work.top - h) / 2, w, h, nullptr, nullptr,
                          instance, this);
  return hwnd_ != nullptr;
}

void Form1::ProcessEvents() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  if (const int signal = InterruptRequested()) FormQueryUnload(ds_, 128 + signal);
}

void Form1::DrawLabel(HDC dc, const Label& label) {
  const RECT r = label.Rect();
  const HBRUSH black = CreateSolidBrush(Colour(kFormBlack));
  FillRect(dc, &r, black);
  DeleteObject(black);
  SelectObject(dc, label.layout.title ? titleFont_ : font_);
  SetTextColor(dc, label.text);
  SetBkMode(dc, TRANSPARENT);
  const UINT align = label.layout.align == Align::kLeft     ? DT_LEFT
                     : label.layout.align == Align::kCentre ? DT_CENTER
                                                            : DT_RIGHT;
  RECT text = r;
  DrawTextW(dc, label.caption.c_str(), static_cast<int>(label.caption.size()), &text,
            align | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
}

void Form1::Paint(HDC dc) {
  const RECT all = {0, 0, Px(kClientTwipsW), Px(kClientTwipsH)};
  const HBRUSH black = CreateSolidBrush(Colour(kFormBlack));
  FillRect(dc, &all, black);
  DeleteObject(black);
  for (const Label* label : {&labQuom_, &labTime_, &labProgress_, &label1_})
    DrawLabel(dc, *label);
  const RECT bar = {Px(kBarLeft), Px(kBarTop), Px(kBarLeft) + barWidth_, Px(kBarTop + kBarHeight)};
  const HBRUSH green = CreateSolidBrush(Colour(kFormGreen));
  FillRect(dc, &bar, green);
  DeleteObject(green);
}

LRESULT CALLBACK Form1::WindowProc(HWND hwnd, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(l);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* form = reinterpret_cast<Form1*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      const HDC dc = BeginPaint(hwnd, &ps);
      const int w = Px(kClientTwipsW), h = Px(kClientTwipsH);
      const HDC memory = CreateCompatibleDC(dc);
      const HBITMAP bitmap = CreateCompatibleBitmap(dc, w, h);
      const HGDIOBJ previous = SelectObject(memory, bitmap);
      form->Paint(memory);
      BitBlt(dc, 0, 0, w, h, memory, 0, 0, SRCCOPY);
      SelectObject(memory, previous);
      DeleteObject(bitmap);
      DeleteDC(memory);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;  // the paint covers everything
    case WM_KEYDOWN:
      // Form_KeyDown: Esc closes the window; any other key does nothing.
      if (w == VK_ESCAPE) form->Unload();
      return 0;
    case WM_CLOSE:
      // The close button, the system menu and the system's close requests.
      form->Unload();
    default:
      return DefWindowProcW(hwnd, message, w, l);
  }
}

}  // namespace

bool RunInWindow(modDS& ds, std::span<const NoteRec> notes, int64_t passes,
                 const RenderOptions& render) {
  Form1 form(ds);
  if (!form.Create()) return false;
  FormLoad(form, ds, notes, passes, render);
}

}  // namespace quom
