#pragma once
// Moving pixels between bitmaps: BlockTransfer at equal size, StretchTransfer into a destination
// rectangle of any size, and Transform through a geometric mapping (affine or four-corner
// projective); opaque, blended or through a caller's combine handler.
#include "g32.h"

namespace g32 {

VANT_DECLARE_EXCEPTION(ETransformError, Exception);

// Copies SrcRect of Src so that its top-left lands on (DstX, DstY) of Dst, clipped to both.
void BlockTransfer(TBitmap32* Dst, int DstX, int DstY, const TBitmap32* Src, TRect SrcRect,
                   TDrawMode CombineOp, const TPixelCombineEvent& CombineCallBack = {});

// Maps SrcRect of Src onto DstRect of Dst with the filter; only the part of DstRect inside Dst is
// written, each pixel with the source samples it would have had without clipping.
void StretchTransfer(TBitmap32* Dst, TRect DstRect, const TBitmap32* Src, TRect SrcRect,
                     TStretchFilter StretchFilter, TDrawMode CombineOp,
                     const TPixelCombineEvent& CombineCallBack = {});

// The resampler's table for one axis: for destination index i, the source indexes
// Index[First[i] .. First[i + 1]) with integer weights summing to 256.
struct TMappingTable {
  std::vector<int> First;
  std::vector<int> Index;
  std::vector<int> Weight;
};
// n destination pixels from the source span [SrcStart, SrcEnd), indexes held to 0..SrcSize-1.
TMappingTable BuildMappingTable(int n, int SrcStart, int SrcEnd, int SrcSize,
                                TStretchFilter Filter);

// ---- Geometric mappings ----------------------------------------------------------------------

// 3 x 3 matrix acting on row vectors (x, y, 1): x' = m[0][0] x + m[1][0] y + m[2][0].
using TFloatMatrix = float[3][3];
extern const float IdentityMatrix[3][3];

// Maps destination pixels back to source pixels. Derived classes say how; Transform() prepares
// them on first use after a change.
class TTransformation {
 public:
  virtual ~TTransformation() = default;
  const TFloatRect& GetSrcRect() const { return src_rect_; }
  void SetSrcRect(const TFloatRect& Value) {
    src_rect_ = Value;
    prepared_ = false;
  }
  bool Prepared() const { return prepared_; }

  // The source pixel for destination pixel (DstX, DstY); false where the mapping has no answer.
  virtual bool Transform(int DstX, int DstY, int& SrcX, int& SrcY) = 0;
  // The same with the source point in 24.8 fixed point.
  virtual bool Transform256(int DstX, int DstY, int& SrcX, int& SrcY) = 0;
  virtual void PrepareTransform() = 0;
  // The destination rectangle the source area covers.
  virtual TRect GetTransformedBounds() = 0;

 protected:
  TFloatRect src_rect_;
  bool prepared_ = false;
};

// A matrix mapping: every step multiplies the current matrix on the right, so it applies after
// the earlier ones. The inverse is kept in 20.12 fixed point for the scan.
class TAffineTransformation : public TTransformation {
 public:
  TAffineTransformation() { Clear(); }
  void Clear();
  void Translate(float Dx, float Dy);
  void Scale(float Sx, float Sy);
  void Skew(float Fx, float Fy);
  // Alpha in degrees, counter-clockwise on screen, around (Cx, Cy).
  void Rotate(float Cx, float Cy, float Alpha);
  const TFloatMatrix& Matrix() const { return matrix_; }

  bool Transform(int DstX, int DstY, int& SrcX, int& SrcY) override;
  bool Transform256(int DstX, int DstY, int& SrcX, int& SrcY) override;
  void PrepareTransform() override;
  TRect GetTransformedBounds() override;

  // The prepared inverse: SrcX = x A + y B + C, SrcY = x D + y E + F, in 20.12.
  struct TFixedInverse {
    int A = 4096, B = 0, C = 0, D = 0, E = 4096, F = 0;
  };
  const TFixedInverse& Inverse() {
    if (!prepared_) PrepareTransform();
    return inverse_;
  }

 private:
  void Multiply(const TFloatMatrix& M);
  TFloatMatrix matrix_;
  TFixedInverse inverse_;
};

// Maps the source area onto the quadrilateral (X0, Y0) .. (X3, Y3): corner 0 takes the source's
// top-left, 1 its top-right, 2 its bottom-right, 3 its bottom-left.
class TProjectiveTransformation : public TTransformation {
 public:
  float GetX(int Index) const { return x_[Index & 3]; }
  float GetY(int Index) const { return y_[Index & 3]; }
  void SetX(int Index, float Value) {
    x_[Index & 3] = Value;
    prepared_ = false;
  }
  void SetY(int Index, float Value) {
    y_[Index & 3] = Value;
    prepared_ = false;
  }
  // Raises EAssertionFailed for a quadrilateral whose sides leave no perspective to solve.
  void PrepareTransform() override;
  bool Transform(int DstX, int DstY, int& SrcX, int& SrcY) override;
  bool Transform256(int DstX, int DstY, int& SrcX, int& SrcY) override;
  TRect GetTransformedBounds() override;

 private:
  bool Map(int DstX, int DstY, double Factor, int& SrcX, int& SrcY);
  float x_[4] = {}, y_[4] = {};
  double inverse_[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
};

// Draws Src into Dst through the mapping, with Src's draw mode, master alpha, combine handler,
// stretch filter (nearest or bilinear) and outer colour; then Changed on Dst.
void Transform(TBitmap32* Dst, const TBitmap32* Src, TTransformation* T);

// Alpha 0 on the outline of the rectangle (all four sides inclusive, clipped to the bitmap).
void SetBorderTransparent(TBitmap32* ABitmap, const TRect& ARect);

}  // namespace g32
